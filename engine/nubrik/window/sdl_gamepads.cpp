// Gamepads for any window, through SDL's game controller subsystem: one
// thread of the library reads them for every window that asked.

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "nubrik/window/event_window.h"
#include "nubrik/window/sdl_library.h"
#include "nubrik/window/sdl_window.h"

namespace nubrik {

namespace {

// How often the thread reads: often enough while a gamepad is connected
// that a tap's press and release keep their order and timing; rarely
// otherwise, only to find gamepads plugged in.
constexpr auto kConnectedInterval = std::chrono::milliseconds(4);
constexpr auto kSearchInterval = std::chrono::milliseconds(250);

// SDL's buttons and axes come in the engine's order; beyond are the
// extras (paddles, touchpads) that the standard layout leaves out.
std::optional<GamepadButton> gamepadButton(uint8_t button) {
  if (button >= kGamepadButtonCount) return std::nullopt;
  return static_cast<GamepadButton>(button);
}

std::optional<GamepadAxis> gamepadAxis(uint8_t axis) {
  if (axis >= kGamepadAxisCount) return std::nullopt;
  return static_cast<GamepadAxis>(axis);
}

float axisValue(int16_t value) { return std::max(static_cast<float>(value) / 32767.0f, -1.0f); }

class Gamepads {
 public:
  // The program's one reader, started on first use. Throws
  // std::runtime_error when SDL's subsystem cannot start.
  static std::shared_ptr<Gamepads> get() {
    static std::mutex lock;
    static std::weak_ptr<Gamepads> current;
    std::lock_guard guard(lock);
    if (auto gamepads = current.lock()) return gamepads;
    std::shared_ptr<Gamepads> gamepads(new Gamepads());
    current = gamepads;
    return gamepads;
  }

  ~Gamepads() {
    {
      std::lock_guard lock(stopLock_);
      stop_ = true;
    }
    stopped_.notify_all();
    thread_.join();
  }

  void subscribe(EventWindow* window) {
    std::lock_guard lock(subscribersLock_);
    subscribers_.push_back(window);
  }

  // Once this returns, nothing is pushed into or wakes `window`.
  void unsubscribe(EventWindow* window) {
    std::lock_guard lock(subscribersLock_);
    std::erase(subscribers_, window);
  }

 private:
  struct Open {
    int32_t id;
    SDL_GameController* controller;
    std::string name;
  };

  Gamepads() {
    std::promise<void> started;
    std::future<void> result = started.get_future();
    thread_ = std::thread([this, &started] { run(started); });
    try {
      result.get();
    } catch (...) {
      thread_.join();
      throw;
    }
  }

  void run(std::promise<void>& started) {
    std::unique_ptr<SdlSubsystem> subsystem;
    try {
      subsystem =
          std::make_unique<SdlSubsystem>(SDL_INIT_GAMECONTROLLER, "SDL cannot read gamepads");
    } catch (...) {
      started.set_exception(std::current_exception());
      SDL_TLSCleanup();
      return;
    }
    SDL_AddEventWatch(watch, this);
    started.set_value();
    std::unique_lock lock(stopLock_);
    while (!stop_) {
      lock.unlock();
      // Each change becomes an SDL event, which the watch hands on as it
      // is queued; the queue's copies go.
      SDL_GameControllerUpdate();
      scan();
      SDL_FlushEvents(SDL_JOYAXISMOTION, SDL_CONTROLLERSENSORUPDATE);
      lock.lock();
      stopped_.wait_for(lock, open_.empty() ? kSearchInterval : kConnectedInterval,
                        [this] { return stop_; });
    }
    lock.unlock();
    for (const Open& open : open_) SDL_GameControllerClose(open.controller);
    SDL_DelEventWatch(watch, this);
    SDL_FlushEvents(SDL_JOYAXISMOTION, SDL_CONTROLLERSENSORUPDATE);
    subsystem.reset();
    // What SDL keeps for this thread (its last error) goes with it.
    SDL_TLSCleanup();
  }

  // Opens the gamepads that came, and closes those that went.
  void scan() {
    const int count = SDL_NumJoysticks();
    for (int i = 0; i < count; ++i) {
      const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(i);
      // Those known first: SDL looks a device's mapping up each time.
      if (id < 0 || known(id) || !SDL_IsGameController(i)) continue;
      // No update on another thread comes between the gamepad's arrival
      // and its first events.
      SDL_LockJoysticks();
      SDL_GameController* controller = SDL_GameControllerOpen(i);
      if (controller == nullptr) {
        refused_.push_back(id);
      } else {
        const char* name = SDL_GameControllerName(controller);
        open_.push_back(Open{id, controller, name != nullptr ? name : "Gamepad"});
        deliver(InputEvent::gamepadAdded(id, open_.back().name));
        // What is held or tilted as it comes.
        for (size_t b = 0; b < kGamepadButtonCount; ++b) {
          if (SDL_GameControllerGetButton(controller, static_cast<SDL_GameControllerButton>(b))) {
            deliver(InputEvent::gamepadButtonDown(id, static_cast<GamepadButton>(b)));
          }
        }
        for (size_t a = 0; a < kGamepadAxisCount; ++a) {
          const Sint16 value =
              SDL_GameControllerGetAxis(controller, static_cast<SDL_GameControllerAxis>(a));
          if (value != 0) {
            deliver(
                InputEvent::gamepadAxisMoved(id, static_cast<GamepadAxis>(a), axisValue(value)));
          }
        }
      }
      SDL_UnlockJoysticks();
    }
    for (auto it = open_.begin(); it != open_.end();) {
      if (SDL_GameControllerGetAttached(it->controller)) {
        ++it;
        continue;
      }
      deliver(InputEvent::gamepadRemoved(it->id, it->name));
      SDL_GameControllerClose(it->controller);
      it = open_.erase(it);
    }
  }

  bool known(SDL_JoystickID id) const {
    return std::any_of(open_.begin(), open_.end(), [id](const Open& o) { return o.id == id; }) ||
           std::find(refused_.begin(), refused_.end(), id) != refused_.end();
  }

  // Runs where SDL queues an event: here, on the reading thread.
  static int SDLCALL watch(void* self, SDL_Event* event) {
    std::optional<InputEvent> translated;
    switch (event->type) {
      case SDL_CONTROLLERBUTTONDOWN:
      case SDL_CONTROLLERBUTTONUP:
        if (const auto button = gamepadButton(event->cbutton.button)) {
          translated = event->type == SDL_CONTROLLERBUTTONDOWN
                           ? InputEvent::gamepadButtonDown(event->cbutton.which, *button)
                           : InputEvent::gamepadButtonUp(event->cbutton.which, *button);
        }
        break;
      case SDL_CONTROLLERAXISMOTION:
        if (const auto axis = gamepadAxis(event->caxis.axis)) {
          translated = InputEvent::gamepadAxisMoved(event->caxis.which, *axis,
                                                    axisValue(event->caxis.value));
        }
        break;
      default:
        break;
    }
    if (translated) static_cast<Gamepads*>(self)->deliver(*translated);
    return 1;
  }

  void deliver(const InputEvent& event) {
    std::lock_guard lock(subscribersLock_);
    for (EventWindow* window : subscribers_) {
      window->input().push(event);
      window->wake();
    }
  }

  std::thread thread_;
  std::mutex stopLock_;
  std::condition_variable stopped_;
  bool stop_ = false;
  // The reading thread's own.
  std::vector<Open> open_;
  std::vector<SDL_JoystickID> refused_;
  std::mutex subscribersLock_;
  std::vector<EventWindow*> subscribers_;
};

// A window's hold on the reader.
class Subscription {
 public:
  Subscription(std::shared_ptr<Gamepads> gamepads, EventWindow* window)
      : gamepads_(std::move(gamepads)), window_(window) {
    gamepads_->subscribe(window_);
  }
  ~Subscription() { gamepads_->unsubscribe(window_); }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

 private:
  std::shared_ptr<Gamepads> gamepads_;
  EventWindow* window_;
};

}  // namespace

void attachGamepads(EventWindow& window) {
  window.addInputSource(std::make_shared<Subscription>(Gamepads::get(), &window));
}

}  // namespace nubrik
