#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace nubrik::testing {

// Ends the test program, saying what hung, when a test that could wait for
// ever (a deadlock) is not over in time: a hang would otherwise stop the
// whole suite without a word of where.
class Watchdog {
 public:
  Watchdog(const char* what, std::chrono::seconds limit)
      : thread_([this, what, limit] {
          std::unique_lock lock(lock_);
          if (!over_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "%s: not over after %lld s: a deadlock?\n", what,
                         static_cast<long long>(limit.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(lock_);
      done_ = true;
    }
    over_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex lock_;
  std::condition_variable over_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace nubrik::testing
