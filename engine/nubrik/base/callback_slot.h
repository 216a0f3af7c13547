#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace nubrik {

// A value (a listener, a handler) that one side replaces and other threads
// call, where what is called may call back into its owner, replacing itself
// included. Each call runs on a handle of its own and outside the slot's
// lock, so it neither holds up the other side nor loses its value midway:
// a value replaced from inside its own call finishes that call.
//
// Once set() or clear() returns, the value it replaced is neither running on
// another thread nor kept by one, and will not run again. A call on the
// replacing thread itself (replacing from inside the value) is not waited
// for, as it would wait for itself. So set() and clear() must not be called
// while holding a lock that the value takes.
template <typename T>
class CallbackSlot {
 public:
  CallbackSlot() = default;
  CallbackSlot(const CallbackSlot&) = delete;
  CallbackSlot& operator=(const CallbackSlot&) = delete;

  // Throws std::bad_alloc, changing nothing.
  void set(T value) { replace(std::make_shared<const T>(std::move(value))); }
  void clear() { replace(nullptr); }

  // Calls `use` with the value, if there is one; what it throws reaches the
  // caller. Returns whether there was a value.
  template <typename Use>
  bool call(Use&& use) {
    Call call;
    {
      std::lock_guard lock(lock_);
      if (!value_) return false;
      call.value = value_;
      call.generation = generation_;
      call.next = calls_;
      if (calls_ != nullptr) calls_->previous = &call;
      calls_ = &call;
    }
    struct Leave {
      CallbackSlot& slot;
      Call& call;
      ~Leave() { slot.leave(call); }
    } leave{*this, call};
    use(*call.value);
    return true;
  }

 private:
  // A call in progress, on its caller's stack.
  struct Call {
    std::shared_ptr<const T> value;
    uint64_t generation = 0;
    std::thread::id thread = std::this_thread::get_id();
    Call* previous = nullptr;
    Call* next = nullptr;
  };

  void replace(std::shared_ptr<const T> value) {
    // Released last, outside the lock: its destructor may take locks of its
    // own.
    std::shared_ptr<const T> replaced;
    std::unique_lock lock(lock_);
    replaced = std::exchange(value_, std::move(value));
    const uint64_t generation = ++generation_;
    const std::thread::id self = std::this_thread::get_id();
    idle_.wait(lock, [&] {
      for (const Call* c = calls_; c != nullptr; c = c->next) {
        if (c->generation < generation && c->thread != self) return false;
      }
      return true;
    });
  }

  void leave(Call& call) noexcept {
    // The value goes before the call is over: once a replacement returns,
    // nothing of the old value is left on other threads.
    std::shared_ptr<const T> value = std::move(call.value);
    value.reset();
    {
      std::lock_guard lock(lock_);
      if (call.previous != nullptr) call.previous->next = call.next;
      if (call.next != nullptr) call.next->previous = call.previous;
      if (calls_ == &call) calls_ = call.next;
    }
    idle_.notify_all();
  }

  std::mutex lock_;
  std::condition_variable idle_;
  std::shared_ptr<const T> value_;
  uint64_t generation_ = 0;
  Call* calls_ = nullptr;
};

}  // namespace nubrik
