// Opens a window and prints every input event as one JSON line on standard
// output, for instance
//   {"type":"key_down","key":"Left","repeat":false,"mods":[],"t_ms":1520.375}
//   {"type":"button_down","button":"left","x":120,"y":48,"t_ms":1733.020}
//   {"type":"gamepad_axis","id":0,"axis":"left_x","value":0.5,"t_ms":1801.250}
// (t_ms: milliseconds since the program started). Ends with 0 on a close
// request, 2 for a bad argument, 1 when the window cannot open or fails.
//
//   input_events [--size WxH] [--scale K] [--resizable] [--print-backend]
//
// --size is the surface, --scale shows each of its pixels K x K (1 to 8),
// --resizable lets the user resize the window; the background follows the
// surface's size. --print-backend first prints which window opened, as
//   {"type":"backend","name":"sdl","driver":"wayland"}
// NUBRIK_WINDOW=sdl opens SDL's window where the library has it.

#include <nubrik/nubrik.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point kStart = Clock::now();

std::string quoted(const char* text) {
  std::string out = "\"";
  for (const char* c = text; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(*c));
      out += escaped;
      continue;
    }
    if (*c == '"' || *c == '\\') out += '\\';
    out += *c;
  }
  return out + "\"";
}

void print(const nubrik::InputEvent& e) {
  using Type = nubrik::InputEventType;
  std::string line = "{\"type\":\"" + std::string(nubrik::inputEventTypeName(e.type)) + "\"";
  auto field = [&line](const char* name, const std::string& value) {
    line += ",\"" + std::string(name) + "\":" + value;
  };
  auto number = [](double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return std::string(text);
  };
  switch (e.type) {
    case Type::KeyDown:
    case Type::KeyUp: {
      field("key", "\"" + std::string(nubrik::keyName(e.key)) + "\"");
      if (e.type == Type::KeyDown) field("repeat", e.repeat ? "true" : "false");
      std::string mods;
      for (const nubrik::Modifier m : nubrik::kModifiers) {
        if (!nubrik::hasModifier(e.mods, m)) continue;
        mods += (mods.empty() ? "\"" : ",\"") + std::string(nubrik::modifierName(m)) + "\"";
      }
      field("mods", "[" + mods + "]");
      break;
    }
    case Type::Text:
      field("text", quoted(e.text));
      break;
    case Type::ButtonDown:
    case Type::ButtonUp:
      field("button", "\"" + std::string(nubrik::pointerButtonName(e.button)) + "\"");
      [[fallthrough]];
    case Type::Motion:
      field("x", std::to_string(e.x));
      field("y", std::to_string(e.y));
      break;
    case Type::Wheel:
      field("dx", number(e.dx));
      field("dy", number(e.dy));
      break;
    case Type::Resize:
      field("width", std::to_string(e.width));
      field("height", std::to_string(e.height));
      break;
    case Type::GamepadAdded:
    case Type::GamepadRemoved:
      field("id", std::to_string(e.gamepad));
      field("name", quoted(e.gamepadName));
      break;
    case Type::GamepadButtonDown:
    case Type::GamepadButtonUp:
      field("id", std::to_string(e.gamepad));
      field("button", "\"" + std::string(nubrik::gamepadButtonName(e.gamepadButton)) + "\"");
      break;
    case Type::GamepadAxisMoved:
      field("id", std::to_string(e.gamepad));
      field("axis", "\"" + std::string(nubrik::gamepadAxisName(e.gamepadAxis)) + "\"");
      field("value", number(e.value));
      break;
    default:
      break;
  }
  char time[32];
  std::snprintf(time, sizeof time, "%.3f",
                std::chrono::duration<double, std::milli>(e.time - kStart).count());
  field("t_ms", time);
  std::printf("%s}\n", line.c_str());
  std::fflush(stdout);
}

void printAll(nubrik::InputQueue& input) {
  for (nubrik::InputEvent event; input.poll(event);) print(event);
}

int usage(const char* why) {
  std::fprintf(stderr,
               "input_events: %s\nusage: input_events [--size WxH] [--scale K] [--resizable] "
               "[--print-backend]\n",
               why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  nubrik::WindowOptions options;
  options.title = "Nubrik input events";
  options.className = "NubrikInputEvents";
  bool printBackend = false;
  for (int i = 1; i < argc; ++i) {
    unsigned width = 0, height = 0, scale = 0;
    char end = 0;
    if (std::strcmp(argv[i], "--resizable") == 0) {
      options.resizable = true;
    } else if (std::strcmp(argv[i], "--print-backend") == 0) {
      printBackend = true;
    } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%ux%u%c", &width, &height, &end) != 2 || width < 1 ||
          height < 1 || width > 16384 || height > 16384) {
        return usage("--size takes WxH, each from 1 to 16384");
      }
      options.width = width;
      options.height = height;
    } else if (std::strcmp(argv[i], "--scale") == 0 && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%u%c", &scale, &end) != 1 || scale < 1 ||
          scale > nubrik::WindowOptions::kMaxScale) {
        return usage("--scale takes a whole number from 1 to 8");
      }
      options.scale = scale;
    } else {
      return usage("unknown option");
    }
  }
  try {
    nubrik::AppWindow app(options);
    if (printBackend) {
      std::printf("{\"type\":\"backend\",\"name\":%s,\"driver\":%s}\n",
                  quoted(app.getWindow().getBackendName().c_str()).c_str(),
                  quoted(app.getWindow().getDriverName().c_str()).c_str());
      std::fflush(stdout);
    }
    nubrik::Screen& screen = app.getScreen();
    const nubrik::Rect all{0, 0, static_cast<int32_t>(screen.getWidth()),
                           static_cast<int32_t>(screen.getHeight())};
    auto background =
        screen.createFillRectSprite(1, all, 0, {nubrik::PixelFormat::Rgb, {40, 44, 52}});
    background->show();
    screen.invalidateAll();
    // Printed on the frame thread, as a program's own logic reads input.
    // The Screen has its new size when the program reads a resize.
    screen.addFrameCallback([&app, background](nubrik::Screen& s) {
      for (nubrik::InputEvent event; app.input().poll(event);) {
        if (event.type == nubrik::InputEventType::Resize) {
          background->invalidate();
          background->setRect(
              {0, 0, static_cast<int32_t>(s.getWidth()), static_cast<int32_t>(s.getHeight())});
          background->invalidate();
        }
        print(event);
      }
      return false;
    });
    const int code = app.run();
    printAll(app.input());  // what came with the close request
    return code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "input_events: %s\n", e.what());
    return 1;
  }
}
