// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

namespace nubrik {

// A value (a listener, a handler) that one side replaces and other threads
// call, where what is called may call back into its owner, replacing itself
// included. Each call runs on a handle of its own and outside the slot's
// lock, so it neither holds up the other side nor loses its value midway:
// a value replaced from inside its own call finishes that call.
//
// Once set() or clear() returns, the value it replaced will not run again
// and, unless the replacement came from inside a call, is not running on
// another thread either. A replacement from inside a call (a value that
// replaces itself) waits for nothing: calls on two threads that each
// replace the value would otherwise wait for each other. Nor does a
// replacing thread that holds a lock which every call takes before it runs
// the value wait for calls still waiting for that lock: those look again
// with isCurrent() once they hold it (see set()). Otherwise set() and
// clear() must not be called while holding a lock that the value takes.
template <typename T>
class CallbackSlot {
 public:
  CallbackSlot() = default;
  CallbackSlot(const CallbackSlot&) = delete;
  CallbackSlot& operator=(const CallbackSlot&) = delete;

  // Throws std::bad_alloc, changing nothing.
  void set(T value) { replace(std::make_shared<const T>(std::move(value)), nullptr); }
  void clear() { replace(nullptr, nullptr); }
  // The same, where `holdsGate(old)` tells whether the calling thread holds
  // the lock that calls of the value `old` take before they run it, and then
  // ask isCurrent(): such calls on other threads are not waited for.
  template <typename HoldsGate>
  void set(T value, const HoldsGate& holdsGate) {
    replace(std::make_shared<const T>(std::move(value)), holdsGate);
  }
  template <typename HoldsGate>
  void clear(const HoldsGate& holdsGate) {
    replace(nullptr, holdsGate);
  }

  // Calls `use(value, generation)` with the value, if there is one; what it
  // throws reaches the caller. Returns whether there was a value.
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
    use(*call.value, call.generation);
    return true;
  }

  // Whether the value a call was given is still the slot's.
  bool isCurrent(uint64_t generation) {
    std::lock_guard lock(lock_);
    return generation == generation_;
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

  template <typename HoldsGate>
  void replace(std::shared_ptr<const T> value, const HoldsGate& holdsGate) {
    // Released last, outside the lock: its destructor may take locks of its
    // own.
    std::shared_ptr<const T> replaced;
    std::unique_lock lock(lock_);
    replaced = std::exchange(value_, std::move(value));
    const uint64_t generation = ++generation_;
    if constexpr (!std::is_same_v<HoldsGate, std::nullptr_t>) {
      if (replaced && holdsGate(*replaced)) return;
    }
    const std::thread::id self = std::this_thread::get_id();
    for (const Call* c = calls_; c != nullptr; c = c->next) {
      if (c->thread == self) return;
    }
    idle_.wait(lock, [&] {
      for (const Call* c = calls_; c != nullptr; c = c->next) {
        if (c->generation < generation) return false;
      }
      return true;
    });
  }

  void leave(Call& call) noexcept {
    // The value goes before the call is over: once a replacement that waited
    // returns, nothing of the old value is left on other threads.
    call.value.reset();
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
