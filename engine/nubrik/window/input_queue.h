#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "nubrik/base/rect.h"
#include "nubrik/window/input_event.h"

namespace nubrik {

// A window's input: the events in the order they came, and the state they
// leave (which keys and buttons are down, where the pointer is). The
// window's event loop pushes; any thread reads, typically a frame callback
// or the thread that owns the window. Each event is read once, by whoever
// polls first.
//
// The queue is bounded: when it is full, the oldest event makes room for
// the newest and is counted in getDroppedCount(). At the default capacity a
// program that reads once a frame never gets there; one that never reads
// keeps the latest events only, and the polled state stays exact either way.
class InputQueue {
 public:
  static constexpr size_t kDefaultCapacity = 4096;

  // Throws std::invalid_argument for a capacity of 0.
  explicit InputQueue(size_t capacity = kDefaultCapacity);
  ~InputQueue();
  InputQueue(const InputQueue&) = delete;
  InputQueue& operator=(const InputQueue&) = delete;

  // The window's side. Updates the state, then queues the event. Losing the
  // focus first releases every key still down, each with a KeyUp event, as
  // no release will come for them.
  void push(const InputEvent& event);
  // Called on the pushing thread after each push (outside the queue's
  // locks, so it may use the queue, replacing itself included), for instance
  // to wake a paced frame thread. Once setListener returns, the previous
  // listener will not run again and is not running on another thread; so it
  // must not be called while holding a lock the listener takes. (Called
  // from inside a listener it waits for nothing, and the replaced listener
  // may still be finishing on another thread.)
  void setListener(std::function<void()> listener);

  // Takes the oldest event; false when there is none.
  bool poll(InputEvent& event);
  size_t size() const;
  // Events dropped because the queue was full.
  uint64_t getDroppedCount() const;

  // State as the events pushed so far leave it.
  bool isKeyDown(Key key) const;
  bool isButtonDown(PointerButton button) const;
  // The latest pointer position the window reported, in surface pixels.
  Point getPointerPosition() const;
  bool isPointerInside() const;
  bool hasFocus() const;

  // Gamepads, as the events pushed so far leave them: those connected, in
  // the order they came; their names; which buttons are down and where the
  // axes are (0 for a gamepad not connected). The state of at most
  // kMaxGamepads gamepads is kept; the events of any beyond still come.
  static constexpr size_t kMaxGamepads = 16;
  std::vector<int32_t> getGamepads() const;
  std::string getGamepadName(int32_t gamepad) const;
  bool isGamepadButtonDown(int32_t gamepad, GamepadButton button) const;
  float getGamepadAxis(int32_t gamepad, GamepadAxis axis) const;

 private:
  struct Gamepad {
    int32_t id = -1;
    std::string name;
    std::bitset<kGamepadButtonCount> buttons;
    float axes[kGamepadAxisCount] = {};
  };

  void queue(const InputEvent& event);
  // Gamepad events' part of push, under lock_: a removed gamepad first
  // releases every button still down, each with a GamepadButtonUp event.
  void updateGamepads(const InputEvent& event);
  const Gamepad* findGamepad(int32_t id) const;

  const size_t capacity_;
  mutable std::mutex lock_;
  std::deque<InputEvent> events_;
  uint64_t dropped_ = 0;
  std::bitset<kKeyCount> keys_;
  std::bitset<kPointerButtonCount> buttons_;
  Point pointer_;
  bool inside_ = false;
  bool focused_ = false;
  std::vector<Gamepad> gamepads_;

  class ListenerSlot;
  std::unique_ptr<ListenerSlot> listener_;
};

}  // namespace nubrik
