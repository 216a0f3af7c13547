// Gamepads as the input queue keeps them, against a model: random
// arrivals, departures, buttons and axes over more gamepads than are kept;
// a departure releases what is held first; names and values stay in their
// bounds.

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cmath>
#include <deque>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "nubrik/window/input_queue.h"

namespace nubrik {
namespace {

struct Pad {
  std::string name;
  std::bitset<kGamepadButtonCount> buttons;
  float axes[kGamepadAxisCount] = {};
};

TEST(GamepadStateTest, MatchesAModel) {
  std::mt19937 random(11);
  InputQueue queue;
  std::vector<int32_t> order;  // connected and kept, in the order they came
  std::map<int32_t, Pad> pads;
  std::deque<InputEvent> expected;
  for (int step = 0; step < 20000; ++step) {
    const auto id = static_cast<int32_t>(random() % 24);
    const auto button = static_cast<GamepadButton>(random() % kGamepadButtonCount);
    const auto axis = static_cast<GamepadAxis>(random() % kGamepadAxisCount);
    const bool kept = pads.count(id) != 0;
    InputEvent e;
    switch (random() % 8) {
      case 0:
        e = InputEvent::gamepadAdded(id, "pad " + std::to_string(id));
        if (!kept && pads.size() < InputQueue::kMaxGamepads) {
          pads[id].name = e.gamepadName;
          order.push_back(id);
        }
        break;
      case 1:
        e = InputEvent::gamepadRemoved(id, "pad " + std::to_string(id));
        if (kept) {
          for (size_t b = 0; b < kGamepadButtonCount; ++b) {
            if (pads[id].buttons.test(b)) {
              expected.push_back(InputEvent::gamepadButtonUp(id, static_cast<GamepadButton>(b)));
            }
          }
          pads.erase(id);
          std::erase(order, id);
        }
        break;
      case 2:
      case 3:
      case 4:
        e = random() % 2 ? InputEvent::gamepadButtonDown(id, button)
                         : InputEvent::gamepadButtonUp(id, button);
        if (kept) {
          pads[id].buttons.set(static_cast<size_t>(button),
                               e.type == InputEventType::GamepadButtonDown);
        }
        break;
      default:
        e = InputEvent::gamepadAxisMoved(id, axis, static_cast<float>(random() % 41) / 10 - 2);
        if (kept) pads[id].axes[static_cast<size_t>(axis)] = e.value;
        break;
    }
    expected.push_back(e);
    queue.push(e);
    ASSERT_EQ(queue.getGamepads(), order) << step;
    for (int32_t pad = 0; pad < 24; ++pad) {
      const auto found = pads.find(pad);
      ASSERT_EQ(queue.getGamepadName(pad), found != pads.end() ? found->second.name : "");
      for (size_t b = 0; b < kGamepadButtonCount; ++b) {
        ASSERT_EQ(queue.isGamepadButtonDown(pad, static_cast<GamepadButton>(b)),
                  found != pads.end() && found->second.buttons.test(b));
      }
      for (size_t a = 0; a < kGamepadAxisCount; ++a) {
        ASSERT_EQ(queue.getGamepadAxis(pad, static_cast<GamepadAxis>(a)),
                  found != pads.end() ? found->second.axes[a] : 0.0f);
      }
    }
    // Read now and then, in order, each release just before its departure.
    while (random() % 4 != 0 && !expected.empty()) {
      InputEvent got;
      ASSERT_TRUE(queue.poll(got));
      const InputEvent& want = expected.front();
      ASSERT_EQ(got.type, want.type) << step;
      ASSERT_EQ(got.gamepad, want.gamepad);
      ASSERT_EQ(got.gamepadButton, want.gamepadButton);
      expected.pop_front();
    }
  }
}

TEST(GamepadStateTest, NamesAndValuesStayInBounds) {
  // A long name is cut where a character ends.
  const std::string plain(100, 'x');
  std::string name;
  for (int i = 0; i < 40; ++i) name += "\xC3\xA9";  // é, two bytes each
  const InputEvent added = InputEvent::gamepadAdded(1, "xx" + name);
  const std::string kept = added.gamepadName;
  EXPECT_EQ(kept, "xx" + name.substr(0, 60));  // 30 whole characters, not 30 and a half
  EXPECT_EQ(std::string(InputEvent::gamepadRemoved(1, plain).gamepadName), plain.substr(0, 63));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    GamepadAxis axis;
    float in, out;
  } values[] = {{GamepadAxis::LeftX, -3, -1},         {GamepadAxis::RightY, 2, 1},
                {GamepadAxis::LeftY, nan, 0},         {GamepadAxis::LeftTrigger, -0.5f, 0},
                {GamepadAxis::RightTrigger, 7, 1},    {GamepadAxis::RightTrigger, nan, 0},
                {GamepadAxis::RightX, -0.25f, -0.25f}};
  for (const auto& v : values) {
    EXPECT_EQ(InputEvent::gamepadAxisMoved(0, v.axis, v.in).value, v.out)
        << gamepadAxisName(v.axis) << " " << v.in;
  }
}

}  // namespace
}  // namespace nubrik
