// Input as the engine keeps it, against a model: the queue's order, state
// and overflow; events injected into an in-memory window reach a frame
// callback in order across threads; the run loop ends as asked, and input
// wakes a paced frame thread.

#include <gtest/gtest.h>

#include <atomic>
#include <bitset>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "nubrik/window/app_window.h"
#include "nubrik/window/input_queue.h"
#include "nubrik/window/memory_window.h"
#include "watchdog.h"

namespace nubrik {
namespace {

InputEvent randomEvent(std::mt19937& random, bool withFocusLoss = true) {
  const auto key = static_cast<Key>(1 + random() % 12);
  const auto button = static_cast<PointerButton>(random() % kPointerButtonCount);
  const int32_t x = static_cast<int32_t>(random() % 200) - 20,
                y = static_cast<int32_t>(random() % 100);
  switch (random() % (withFocusLoss ? 11 : 10)) {
    case 0:
      return InputEvent::keyDown(key, random() % 2 == 0, static_cast<uint8_t>(random() % 64));
    case 1:
      return InputEvent::keyUp(key);
    case 2:
      return InputEvent::character(0x20 + random() % 0x2000);
    case 3:
      return InputEvent::motion(x, y);
    case 4:
      return InputEvent::buttonDown(button, x, y);
    case 5:
      return InputEvent::buttonUp(button, x, y);
    case 6:
      return InputEvent::wheel(static_cast<float>(random() % 5) - 2, 0.5f);
    case 7:
      return InputEvent::simple(InputEventType::Enter);
    case 8:
      return InputEvent::simple(InputEventType::Leave);
    case 9:
      return InputEvent::simple(InputEventType::FocusGained);
    default:
      return InputEvent::simple(InputEventType::FocusLost);
  }
}

bool same(const InputEvent& a, const InputEvent& b) {
  return a.type == b.type && a.time == b.time && a.key == b.key && a.repeat == b.repeat &&
         a.mods == b.mods && a.button == b.button && a.x == b.x && a.y == b.y && a.dx == b.dx &&
         a.dy == b.dy && std::string(a.text) == b.text && std::string(a.label) == b.label;
}

TEST(InputQueueTest, MatchesAModelOfOrderStateAndOverflow) {
  std::mt19937 random(3);
  for (const size_t capacity : {1u, 7u, 64u}) {
    SCOPED_TRACE(capacity);
    InputQueue queue(capacity);
    std::deque<InputEvent> events;
    uint64_t dropped = 0;
    std::bitset<kKeyCount> keys;
    std::bitset<kPointerButtonCount> buttons;
    Point pointer;
    bool inside = false, focus = false;
    auto queueInModel = [&](const InputEvent& e) {
      if (events.size() == capacity) events.pop_front(), ++dropped;
      events.push_back(e);
    };
    for (int step = 0; step < 4000; ++step) {
      if (random() % 3 == 0) {
        InputEvent got;
        ASSERT_EQ(queue.poll(got), !events.empty());
        if (!events.empty()) {
          ASSERT_TRUE(same(got, events.front())) << step;
          events.pop_front();
        }
        continue;
      }
      const InputEvent e = randomEvent(random);
      const auto k = static_cast<size_t>(e.key);
      const auto b = static_cast<size_t>(e.button);
      switch (e.type) {
        case InputEventType::KeyDown:
          keys.set(k);
          break;
        case InputEventType::KeyUp:
          keys.reset(k);
          break;
        case InputEventType::ButtonDown:
        case InputEventType::ButtonUp:
          buttons.set(b, e.type == InputEventType::ButtonDown);
          [[fallthrough]];
        case InputEventType::Motion:
          pointer = {e.x, e.y};
          break;
        case InputEventType::Enter:
        case InputEventType::Leave:
          inside = e.type == InputEventType::Enter;
          break;
        case InputEventType::FocusGained:
          focus = true;
          break;
        case InputEventType::FocusLost:
          // Keys still down are released first, lowest key first.
          focus = false;
          for (size_t key = 1; key < kKeyCount; ++key) {
            if (!keys.test(key)) continue;
            InputEvent release = InputEvent::keyUp(static_cast<Key>(key));
            release.time = e.time;
            queueInModel(release);
          }
          keys.reset();
          break;
        default:
          break;
      }
      queueInModel(e);
      queue.push(e);
      for (size_t key = 0; key < kKeyCount; ++key) {
        ASSERT_EQ(queue.isKeyDown(static_cast<Key>(key)), keys.test(key));
      }
      for (size_t button = 0; button < kPointerButtonCount; ++button) {
        ASSERT_EQ(queue.isButtonDown(static_cast<PointerButton>(button)), buttons.test(button));
      }
      ASSERT_EQ(queue.getPointerPosition(), pointer);
      ASSERT_EQ(queue.isPointerInside(), inside);
      ASSERT_EQ(queue.hasFocus(), focus);
      ASSERT_EQ(queue.getDroppedCount(), dropped);
      ASSERT_EQ(queue.size(), events.size());
    }
  }
}

// Labels and text longer than their fields are cut, never overrun; what
// is not a character gives no text.
TEST(InputQueueTest, EventsKeepTheirFieldsBounded) {
  const InputEvent key = InputEvent::keyDown(Key::A, false, 0, std::string(100, 'x'));
  EXPECT_EQ(std::string(key.label), std::string(sizeof key.label - 1, 'x'));
  EXPECT_STREQ(InputEvent::keyUp(Key::KeypadMultiply).label, "KeypadMultiply");
  EXPECT_STREQ(InputEvent::character(0x1F600).text, "\xF0\x9F\x98\x80");
  EXPECT_STREQ(InputEvent::character(0xD800).text, "");
  EXPECT_STREQ(InputEvent::character(0x110000).text, "");
  EXPECT_THROW(InputQueue(0), std::invalid_argument);
}

// A window's thread pushes while another reads: nothing read out of order,
// and what was not read was counted as dropped.
TEST(InputQueueTest, OneThreadPushesAnotherReads) {
  InputQueue queue(256);
  constexpr int32_t kEvents = 50000;
  std::atomic<bool> done{false};
  std::thread window([&] {
    for (int32_t i = 0; i < kEvents; ++i) queue.push(InputEvent::motion(i, 0));
    done = true;
  });
  int32_t last = -1, read = 0;
  for (InputEvent e; !done || queue.size() > 0;) {
    if (!queue.poll(e)) continue;
    ASSERT_GT(e.x, last);
    last = e.x;
    ++read;
  }
  window.join();
  EXPECT_EQ(read + static_cast<int64_t>(queue.getDroppedCount()), kEvents);
  EXPECT_EQ(last, kEvents - 1);
}

// Events injected by the user's thread reach the frame callback in order,
// none lost; the close request ends the loop with 0.
TEST(AppWindowTest, FrameCallbacksReadInjectedInputInOrder) {
  auto owned = std::make_unique<MemoryWindow>(64, 48);
  MemoryWindow& window = *owned;
  AppWindow app(std::move(owned));
  app.getScreen().setFrameInterval(std::chrono::milliseconds(2));
  std::vector<InputEvent> seen;  // the frame thread's until run() returns
  app.getScreen().addFrameCallback([&](Screen&) {
    for (InputEvent e; app.input().poll(e);) seen.push_back(e);
    return false;
  });
  std::mt19937 random(8);
  std::vector<InputEvent> sent;
  for (int i = 0; i < 3000; ++i) sent.push_back(randomEvent(random, /*withFocusLoss=*/false));
  sent.push_back(InputEvent::simple(InputEventType::Close));
  std::thread user([&] {
    for (size_t i = 0; i < sent.size(); ++i) {
      window.inject(sent[i]);
      if (i % 100 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_EQ(app.run(), 0);
  user.join();
  for (InputEvent e; app.input().poll(e);) seen.push_back(e);
  ASSERT_EQ(seen.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) ASSERT_TRUE(same(seen[i], sent[i])) << i;
}

// A resize of the window (random sizes, one at a time) reaches the program
// with the Screen already at the new size, and the first frame composed
// after the program has answered it (its background follows the surface)
// shows the whole new area: no strip left black, nothing cropped.
TEST(AppWindowTest, ResizeReachesTheScreenBeforeTheProgram) {
  auto owned = std::make_unique<MemoryWindow>(64, 48);
  MemoryWindow& window = *owned;
  AppWindow app(std::move(owned));
  Screen& screen = app.getScreen();
  screen.setFrameInterval(std::chrono::milliseconds(2));
  constexpr uint32_t kColour = 0x102030;
  auto background = screen.createFillRectSprite(0, {0, 0, 64, 48}, 0,
                                                Colour{PixelFormat::Rgb, {0x10, 0x20, 0x30}});
  background->show();
  background->invalidate();
  std::atomic<int> answered{0}, shown{0};
  std::atomic<int> wrongSize{0}, wrongPicture{0};
  uint64_t answeredAt = 0;  // the frame thread's
  bool checking = false;
  screen.addFrameCallback([&](Screen& s) {
    if (checking && s.getComposedFrameCount() > answeredAt) {
      checking = false;
      const Image& fb = window.getSurface().getFramebuffer();
      bool whole = fb.getWidth() == s.getWidth() && fb.getHeight() == s.getHeight();
      for (uint32_t y = 0; whole && y < fb.getHeight(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(fb.lockConst() + y * fb.getPitch());
        for (uint32_t x = 0; whole && x < fb.getWidth(); ++x)
          whole = (row[x] & 0xFFFFFF) == kColour;
      }
      wrongPicture += !whole;
      ++shown;
    }
    for (InputEvent e; app.input().poll(e);) {
      if (e.type != InputEventType::Resize) continue;
      wrongSize += s.getWidth() != e.width || s.getHeight() != e.height;
      background->invalidate();
      background->setRect({0, 0, int32_t(e.width), int32_t(e.height)});
      background->invalidate();
      answeredAt = s.getComposedFrameCount();
      checking = true;
      ++answered;
    }
    return false;
  });
  std::thread user([&] {
    std::mt19937 random(21);
    for (int i = 1; i <= 30; ++i) {
      window.resize(1 + random() % 300, 1 + random() % 200);
      for (int t = 0; t < 20000 && shown < i; ++t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    window.inject(InputEvent::simple(InputEventType::Close));
  });
  EXPECT_EQ(app.run(), 0);
  user.join();
  EXPECT_EQ(answered, 30);
  EXPECT_EQ(shown, 30);
  EXPECT_EQ(wrongSize, 0);
  EXPECT_EQ(wrongPicture, 0);
}

// quit() from a callback ends run() with its code; input wakes a frame
// thread paced at one frame an hour, whose callbacks see it at once.
TEST(AppWindowTest, QuitFromACallbackAndInputWakesAnIdlePacedScreen) {
  auto owned = std::make_unique<MemoryWindow>(32, 32);
  MemoryWindow& window = *owned;
  AppWindow app(std::move(owned));
  app.getScreen().setFrameInterval(std::chrono::hours(1));
  std::atomic<int> rounds{0};
  app.getScreen().addFrameCallback([&](Screen&) {
    ++rounds;
    for (InputEvent e; app.input().poll(e);) {
      if (e.type == InputEventType::KeyDown && e.key == Key::Escape) app.quit(7);
    }
    return false;
  });
  std::atomic<bool> ended{false};
  std::thread user([&] {
    while (rounds == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the first round is over
    window.inject(InputEvent::keyDown(Key::Escape));
    // Without the wake-up the callback would not run for an hour.
    for (int i = 0; i < 20000 && !ended; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!ended) app.quit(99);
  });
  EXPECT_EQ(app.run(), 7);
  ended = true;
  user.join();
  EXPECT_EQ(rounds, 2);
}

// Listeners that hand over to a new one from inside, and listeners
// replaced from another thread, while two threads push: no push waits for
// ever, every push calls one listener, and a listener replaced from outside
// never runs once setListener has returned.
TEST(InputQueueTest, ListenersReplacedFromInsideOrOutsideWhileCalled) {
  testing::Watchdog watchdog("listeners replacing themselves", std::chrono::seconds(30));
  InputQueue queue(64);
  constexpr int kMaxListeners = 1 << 16;
  const auto retired = std::make_unique<std::atomic<bool>[]>(kMaxListeners);
  std::atomic<int> made{0};
  std::atomic<uint64_t> calls{0};
  std::atomic<int> late{0};
  std::function<std::function<void()>(int)> make = [&](int id) {
    // Big enough to live on the heap: a listener freed while it runs is
    // read after its end.
    auto payload = std::make_shared<std::vector<int>>(64, id);
    return std::function<void()>([&, id, payload] {
      if (retired[id].load()) ++late;
      const uint64_t call = calls.fetch_add(1);
      if (call % 5 == 0 && made.load() < kMaxListeners / 2) queue.setListener(make(made++));
      if ((*payload)[63] != id) ++late;
    });
  };
  queue.setListener(make(made++));
  constexpr int kPushes = 20000;
  std::atomic<int> pushing{2};
  auto pusher = [&](uint32_t seed) {
    std::mt19937 random(seed);
    for (int i = 0; i < kPushes; ++i) queue.push(randomEvent(random));
    --pushing;
  };
  std::thread first(pusher, 1), second(pusher, 2);
  while (pushing > 0) {
    const int id = made++;
    queue.setListener(make(id));
    std::this_thread::yield();
    const int next = made++;
    queue.setListener(make(next));
    retired[id] = true;  // replaced from here: it must never run again
  }
  first.join();
  second.join();
  queue.setListener(nullptr);
  EXPECT_EQ(calls.load(), 2u * kPushes);
  EXPECT_EQ(late.load(), 0);
}

// A resize the window cannot take, or the handler refuses, leaves the
// window as it was and queues nothing. Then resizes from a frame callback
// (which holds the scene lock, and now and then replaces the handler) and
// from two threads, refused ones among them, all at once: none waits for
// another for ever, and once all are over the window, its surface and the
// Screen have one size, the one the last Resize event gives.
TEST(AppWindowTest, ResizesFromCallbacksAndThreadsAtOnceAgree) {
  testing::Watchdog watchdog("resizes from callbacks and threads", std::chrono::seconds(120));
  {
    MemoryWindow bare(50, 40);
    bare.setResizeHandler([](uint32_t width, uint32_t) {
      if (width == 77) throw std::runtime_error("not 77");
    });
    EXPECT_THROW(bare.resize(77, 10), std::runtime_error);
    EXPECT_THROW(bare.resize(20000, 10), std::invalid_argument);
    EXPECT_THROW(bare.resize(16384, 16385), std::invalid_argument);
    EXPECT_EQ(bare.getClientWidth(), 50u);
    EXPECT_EQ(bare.getClientHeight(), 40u);
    InputEvent event;
    EXPECT_FALSE(bare.input().poll(event));
    bare.resize(78, 10);
    ASSERT_TRUE(bare.input().poll(event));
    EXPECT_EQ(event.type, InputEventType::Resize);
    EXPECT_EQ(bare.getClientWidth(), 78u);
  }

  auto owned = std::make_unique<MemoryWindow>(64, 48);
  MemoryWindow& window = *owned;
  AppWindow app(std::move(owned));
  Screen& screen = app.getScreen();
  EXPECT_THROW(window.resize(20000, 10), std::invalid_argument);
  EXPECT_EQ(window.getClientWidth(), 64u);
  EXPECT_EQ(screen.getWidth(), 64u);
  screen.setFrameInterval(std::chrono::nanoseconds(0));

  constexpr int kResizes = 150;
  std::atomic<int> wrongOutcome{0}, accepted{0}, left{3};
  const auto resizeOnce = [&](std::mt19937& random) {
    uint32_t width = 1 + random() % 300, height = 1 + random() % 200;
    if (random() % 8 == 0) {
      width = random() % 2 == 0 ? 20000 : 0;  // refused
    }
    const bool good = width != 0 && width <= 16384;
    try {
      window.resize(width, height);
      wrongOutcome += !good;
      ++accepted;
    } catch (const std::invalid_argument&) {
      wrongOutcome += good;
    }
  };
  InputEvent lastResize;
  int resizeEvents = 0;
  std::mt19937 callbackRandom(7);
  int callbackResizes = 0;
  screen.addFrameCallback([&](Screen&) {
    for (InputEvent e; app.input().poll(e);) {
      if (e.type == InputEventType::Resize) {
        lastResize = e;
        ++resizeEvents;
      }
    }
    if (callbackResizes < kResizes) {
      resizeOnce(callbackRandom);
      if (++callbackResizes == kResizes) --left;
      // Holding the scene lock, which resizes on other threads may be
      // waiting for: the handler is replaced all the same.
      if (callbackResizes % 8 == 0) {
        window.setResizeHandler(
            [&screen](uint32_t width, uint32_t height) { screen.resize(width, height); },
            &screen.getSceneLock());
      }
    }
    return false;
  });
  auto user = [&](uint32_t seed) {
    std::mt19937 random(seed);
    for (int i = 0; i < kResizes; ++i) {
      resizeOnce(random);
      if (i % 16 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    --left;
  };
  std::thread first(user, 11), second(user, 12);
  std::thread ender([&] {
    while (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    app.quit();
  });
  EXPECT_EQ(app.run(), 0);
  first.join();
  second.join();
  ender.join();

  EXPECT_EQ(wrongOutcome.load(), 0);
  for (InputEvent e; app.input().poll(e);) {
    if (e.type == InputEventType::Resize) {
      lastResize = e;
      ++resizeEvents;
    }
  }
  EXPECT_EQ(resizeEvents, accepted.load());
  EXPECT_EQ(window.getClientWidth(), lastResize.width);
  EXPECT_EQ(window.getClientHeight(), lastResize.height);
  EXPECT_EQ(screen.getWidth(), lastResize.width);
  EXPECT_EQ(screen.getHeight(), lastResize.height);
  EXPECT_EQ(window.getSurface().getFramebuffer().getWidth(), lastResize.width);
  EXPECT_EQ(window.getSurface().getFramebuffer().getHeight(), lastResize.height);
}

// A window whose event loop has its surface resized, as the platforms'
// windows do on their own thread.
class ResizingLoopWindow final : public EventWindow {
 public:
  uint32_t getClientWidth() const override { return width_; }
  uint32_t getClientHeight() const override { return height_; }
  IDeviceContext* getDC() override { return &surface_; }
  void releaseDC(IDeviceContext*) override {}
  Point getCursorPosition() const override { return {}; }
  void show() override {}
  WindowEvent waitEvent(uint32_t) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    width_ = 80;
    height_ = 60;
    surfaceResized(80, 60);
    return WindowEvent::Input;
  }
  void wake() override {}
  std::string getFailure() const override { return {}; }

 private:
  MemorySurface surface_{64, 48};
  uint32_t width_ = 64;
  uint32_t height_ = 48;
};

// A resize handler of the program's own that throws inside the window's
// event loop ends run() with what it threw, the frame thread stopped and
// the Resize event queued all the same.
TEST(AppWindowTest, RunStopsTheFramesWhenAResizeHandlerThrows) {
  AppWindow app(std::make_unique<ResizingLoopWindow>());
  app.getWindow().setResizeHandler(
      [](uint32_t, uint32_t) { throw std::runtime_error("the program refuses"); });
  try {
    app.run();
    ADD_FAILURE() << "run() returned";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "the program refuses");
  }
  EXPECT_FALSE(app.getScreen().isFrameThreadRunning());
  InputEvent event;
  ASSERT_TRUE(app.input().poll(event));
  EXPECT_EQ(event.type, InputEventType::Resize);
  EXPECT_EQ(event.width, 80u);
  EXPECT_EQ(event.height, 60u);
}

// A program that asks to stop on a failing callback sees run() end with the
// failure, the frame thread stopped; one that keeps going sees the callback
// called again, passes counted whether or not a frame was composed.
TEST(AppWindowTest, AFailingCallbackEndsRunWhenThePolicySaysStop) {
  for (auto policy : {CallbackFailurePolicy::Stop, CallbackFailurePolicy::KeepGoing}) {
    AppWindow app(std::make_unique<MemoryWindow>(32, 32));
    Screen& screen = app.getScreen();
    screen.setFrameInterval(std::chrono::milliseconds(1));
    screen.setCallbackFailurePolicy(policy);
    screen.setCallbackErrorHandler(nullptr);
    std::atomic<int> calls{0};
    screen.addFrameCallback([&](Screen& s) {
      if (++calls == 3) throw std::runtime_error("the game broke");
      if (calls == 10) app.quit(7);
      EXPECT_GE(s.getPassCount(), static_cast<uint64_t>(calls.load()));
      return false;
    });
    if (policy == CallbackFailurePolicy::Stop) {
      try {
        app.run();
        ADD_FAILURE() << "run() returned";
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "the game broke");
      }
      EXPECT_FALSE(screen.isFrameThreadRunning());
      EXPECT_EQ(calls.load(), 3);
    } else {
      EXPECT_EQ(app.run(), 7);
      EXPECT_EQ(calls.load(), 10);
    }
    EXPECT_EQ(screen.getCallbackFailureCount(), 1u);
  }
}

}  // namespace
}  // namespace nubrik
