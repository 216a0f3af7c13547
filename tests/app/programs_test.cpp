// The demonstration programs as a user runs them: the headless runner, and
// the window program on a virtual X server when one can be started.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "app/process.h"
#include "app/virtual_display.h"
#include "nubrik/image/load_image.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/version.h"

// Last: Xlib defines macros (None, Bool) that clash with the names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace nubrik {
namespace {

namespace fs = std::filesystem;
using testing::spawn;
using testing::VirtualDisplay;

const std::string kRunDir = NUBRIK_RUN_DIR;

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

fs::path freshFolder(const std::string& name) {
  const fs::path folder = fs::temp_directory_path() / ("nubrik_" + name + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

TEST(HeadlessTest, SameArgumentsGiveTheSamePicture) {
  const fs::path folder = freshFolder("headless");
  std::string json;
  for (const char* name : {"a.png", "b.png"}) {
    auto run = spawn({kRunDir + "/nubrik-headless", "--frames", "40", "--cursor", "100,120",
                      "--snapshot", (folder / name).string()},
                     kRunDir);
    ASSERT_EQ(run.wait(60), 0) << run.output();
    json = run.output();
  }
  EXPECT_NE(json.find("\"frames\": 40,"), std::string::npos) << json;  // exactly as asked
  EXPECT_NE(json.find("\"median_ms\""), std::string::npos) << json;
  const std::string a = readBytes((folder / "a.png").string());
  EXPECT_GT(a.size(), 1000u);
  EXPECT_EQ(a, readBytes((folder / "b.png").string()));
}

// The vector blitters change no pixel of the whole animated scene.
TEST(HeadlessTest, VectorAndScalarBlittersGiveTheSamePicture) {
  const fs::path folder = freshFolder("levels");
  for (const char* level : {"scalar", "sse2", "avx2"}) {
    auto run = spawn({kRunDir + "/nubrik-headless", "--frames", "60", "--snapshot",
                      (folder / level).string() + ".png"},
                     kRunDir, {std::string("NUBRIK_SIMD=") + level});
    ASSERT_EQ(run.wait(60), 0) << run.output();
  }
  const std::string scalar = readBytes((folder / "scalar.png").string());
  EXPECT_EQ(readBytes((folder / "sse2.png").string()), scalar);
  EXPECT_EQ(readBytes((folder / "avx2.png").string()), scalar);
}

// The overlay changes the top-left corner only, and only when asked for.
TEST(HeadlessTest, FpsOverlayDrawsInItsCornerOnly) {
  const fs::path folder = freshFolder("overlay");
  for (const bool overlay : {false, true}) {
    std::vector<std::string> args = {kRunDir + "/nubrik-headless", "--frames", "40", "--snapshot",
                                     (folder / (overlay ? "on.png" : "off.png")).string()};
    if (overlay) args.push_back("--fps-overlay");
    auto run = spawn(args, kRunDir);
    ASSERT_EQ(run.wait(60), 0) << run.output();
  }
  const auto off = loadImageFromFile((folder / "off.png").string());
  const auto on = loadImageFromFile((folder / "on.png").string());
  ConstPixelLock a(*off), b(*on);
  int cornerChanges = 0;
  for (uint32_t y = 0; y < off->getHeight(); ++y) {
    for (uint32_t x = 0; x < off->getWidth(); ++x) {
      const size_t at = y * off->getPitch() + x * 3;
      const bool same = std::equal(a.pixels() + at, a.pixels() + at + 3, b.pixels() + at);
      if (x < 160 && y < 40) {
        cornerChanges += !same;
      } else {
        ASSERT_TRUE(same) << x << "," << y;
      }
    }
  }
  EXPECT_GT(cornerChanges, 50);
}

TEST(HeadlessTest, BadArgumentsAndMissingPictures) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--frames", "zero"},
                                        {"--frames"},
                                        {"--cursor", "5"},
                                        {"--what", "1"},
                                        {"--frames", "-3"}}) {
    args.insert(args.begin(), kRunDir + "/nubrik-headless");
    auto run = spawn(args, kRunDir);
    EXPECT_EQ(run.wait(10), 2) << args[1];
    EXPECT_NE(run.output().find("usage:"), std::string::npos);
  }
  // The pictures are found beside the program, whatever the working
  // directory; a program alone in its folder finds none.
  const fs::path empty = freshFolder("empty");
  auto elsewhere = spawn({kRunDir + "/nubrik-headless", "--frames", "1"}, empty.string());
  EXPECT_EQ(elsewhere.wait(10), 0) << elsewhere.output();
  fs::copy_file(kRunDir + "/nubrik-headless", empty / "nubrik-headless");
  auto run = spawn({(empty / "nubrik-headless").string(), "--frames", "1"}, empty.string());
  EXPECT_EQ(run.wait(10), 1);
  EXPECT_NE(run.output().find("load.gra"), std::string::npos) << run.output();
}

// Every option's failure names the option, the value and what is accepted;
// the snapshot's folder is checked before any frame is composed.
TEST(HeadlessTest, OptionsAreExplainedAndChecked) {
  const fs::path empty = freshFolder("options");
  const std::string missingFolder = (empty / "no" / "such").string();
  const struct {
    std::vector<std::string> args;
    int code;
    std::string text;
  } cases[] = {
      {{"--help"}, 0, "--pictures DIR"},
      {{"--version"}, 0, std::string("nubrik-headless ") + NUBRIK_VERSION_STRING + "\n"},
      {{"--frames", "2", "--wobble"}, 2, "unknown option --wobble"},
      {{"--fps-overlay=yes"}, 2, "--fps-overlay takes no value"},
      {{"stray"}, 2, "unexpected argument stray"},
      {{"--frames=0"}, 2, "bad value \"0\" for --frames: expected a whole number from 1 to"},
      {{"--cursor", "5,x"}, 2, "bad value \"5,x\" for --cursor: expected X,Y"},
      {{"--pictures", ""}, 2, "bad value \"\" for --pictures: expected a folder"},
      {{"--snapshot", missingFolder + "/a.png"}, 1, "\"" + missingFolder + "\" does not exist"},
      {{"--snapshot", empty.string()}, 1, "it is a folder"},
      {{"--frames", "1", "--pictures", empty.string()}, 1, (empty / "load.gra").string()},
      {{"--frames", "2", "--pictures", kRunDir}, 0, "\"frames\": 2,"},
      {{"--frames", "1", "--pictures", kRunDir, "--snapshot", "/dev/full"},
       1,
       "cannot write the snapshot \"/dev/full\": No space left on device"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), kRunDir + "/nubrik-headless");
    auto run = spawn(args, empty.string());
    EXPECT_EQ(run.wait(30), c.code) << c.args[0] << "\n" << run.output();
    EXPECT_NE(run.output().find(c.text), std::string::npos) << run.output();
    // A run refused before it started composed nothing.
    if (c.code != 0) {
      EXPECT_EQ(run.output().find("\"frames\""), std::string::npos);
    }
  }
}

unsigned long pixelAt(Display* display, Window window, int x, int y) {
  XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
  const unsigned long pixel = image ? XGetPixel(image, 0, 0) : 0;
  if (image) XDestroyImage(image);
  return pixel;
}

TEST(WindowTest, ShowsTheSceneAndClosesCleanly) {
  VirtualDisplay x;
  if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
  auto program = spawn({kRunDir + "/nubrik"}, kRunDir, {"DISPLAY=" + x.name()});
  const Window window = x.find("Nubrik");
  ASSERT_NE(window, 0u) << program.output();

  XWindowAttributes attributes;
  XGetWindowAttributes(x.display(), window, &attributes);
  EXPECT_EQ(attributes.width, 800);
  EXPECT_EQ(attributes.height, 600);
  XClassHint hint{};
  ASSERT_TRUE(XGetClassHint(x.display(), window, &hint));
  EXPECT_STREQ(hint.res_class, "Nubrik class");
  XFree(hint.res_name);
  XFree(hint.res_class);

  // The picture arrives within a few frames: the red square's corner, and the
  // green square's tint over the white background.
  // Snowflakes brighten what they pass over, so each is looked for at a few
  // places in the part that no picture covers, over a few frames.
  auto seen = [&](std::initializer_list<std::pair<int, int>> places, unsigned long colour) {
    for (auto [px, py] : places) {
      if ((pixelAt(x.display(), window, px, py) & 0xFFFFFF) == colour) return true;
    }
    return false;
  };
  bool red = false, green = false, white = false;
  for (int i = 0; i < 500 && !(red && green && white); ++i) {
    red = red || seen({{52, 52}, {55, 150}, {150, 55}, {60, 70}}, 0xFF0000);
    // White mixed with green at weight 60: red and blue (255 * 196) >> 8 = 195.
    green = green || seen({{195, 105}, {105, 195}, {190, 110}, {110, 190}}, 0xC3FFC3);
    white = white || seen({{790, 10}, {700, 500}, {20, 580}, {600, 40}}, 0xFFFFFF);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(red);
  EXPECT_TRUE(green);
  EXPECT_TRUE(white);

  x.requestClose(window);
  EXPECT_EQ(program.wait(10), 0) << program.output();
}

TEST(WindowTest, MissingPictureOrDisplayExitsWithAMessage) {
  const fs::path empty = freshFolder("window_empty");
  auto noDisplay = spawn({kRunDir + "/nubrik"}, empty.string(), {"DISPLAY=:0.77"});
  EXPECT_EQ(noDisplay.wait(10), 1);
  EXPECT_NE(noDisplay.output().find("nubrik-headless"), std::string::npos) << noDisplay.output();

  VirtualDisplay x;
  if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
  // Alone in its folder: the pictures are beside no program.
  fs::copy_file(kRunDir + "/nubrik", empty / "nubrik");
  auto missing = spawn({(empty / "nubrik").string()}, empty.string(), {"DISPLAY=" + x.name()});
  EXPECT_EQ(missing.wait(10), 1);
  EXPECT_NE(missing.output().find("\"load.gra\""), std::string::npos) << missing.output();
}

}  // namespace
}  // namespace nubrik
