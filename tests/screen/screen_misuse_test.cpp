#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"
#include "nubrik/screen/screen.h"
#include "nubrik/screen/screen_internals.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/window/memory_window.h"

namespace nubrik {
namespace {

// Changing a sprite or the registry without the scene lock while frames are
// composed is refused by name, before anything is stored; with the lock, or
// once the frame thread stopped, the same calls go through.
TEST(ScreenMisuseTest, ChangesWithoutTheLockWhileFramesRunAreRefused) {
  Screen screen(nullptr, 64, 48);
  auto square = screen.createFillRectSprite(1, {0, 0, 8, 8}, 1, Colour{});
  auto other = screen.createFillRectSprite(2, {0, 0, 8, 8}, 1, Colour{});
  square->show();
  square->invalidate();
  screen.startFrameThread();
  std::thread([&] {
    EXPECT_THROW(square->setPosition(5, 5), std::logic_error);
    EXPECT_EQ(square->getX(), 0);  // refused before storing
    EXPECT_THROW(square->invalidate(), std::logic_error);
    EXPECT_THROW(other->setOpacity(3), std::logic_error);
    EXPECT_THROW(ScreenInternals::spriteManager(screen)->markOrderDirty(), std::logic_error);
    EXPECT_THROW(ScreenInternals::spriteDrawer(screen)->invalidateRect({0, 0, 4, 4}),
                 std::logic_error);
    std::lock_guard lock(screen.getSceneLock());
    square->setPosition(5, 5);
    square->invalidate();
  }).join();
  screen.stopFrameThread();
  other->setOpacity(3);
  EXPECT_EQ(square->getX(), 5);
}

// Surfaces beyond the cap are refused with the size and the limit, before
// anything is allocated for them.
TEST(ScreenMisuseTest, SurfacesBeyondTheCapAreRefusedByName) {
  for (auto [width, height] : {std::pair<uint32_t, uint32_t>{16384, 10'000'000},
                               {16384, INT32_MAX},
                               {16384, UINT32_MAX},
                               {1, UINT32_MAX}}) {
    try {
      Screen screen(nullptr, width, height);
      ADD_FAILURE() << width << " x " << height << " was accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(std::to_string(height)), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(std::to_string(Screen::kMaxPixels)), std::string::npos);
    }
  }
  Screen largest(nullptr, 16384, 16384);
  EXPECT_EQ(ScreenInternals::spriteDrawer(largest)->getBandCount(), 16384u);
}

// Everything a change may touch, read under the scene lock.
struct SpriteState {
  DrawCommand command;
  int32_t x, y, zOrder;
  bool visible;
  const IImage* image = nullptr;
  Rect sourceRect;
  bool flipH = false, flipV = false;
  uint32_t turns = 0, width = 0, height = 0;
  Colour tint, colour;
  Rect rect;

  static SpriteState of(ISprite& sprite) {
    SpriteState s;
    s.command = SpriteCommands::of(sprite);
    s.x = sprite.getX();
    s.y = sprite.getY();
    s.zOrder = sprite.getZOrder();
    s.visible = sprite.isVisible();
    if (auto* picture = dynamic_cast<ImageSprite*>(&sprite)) {
      s.image = picture->getImage().get();
      s.sourceRect = picture->getSourceRect();
      s.flipH = picture->isFlippedHorizontally();
      s.flipV = picture->isFlippedVertically();
      s.turns = picture->getQuarterTurns();
      s.width = picture->getWidth();
      s.height = picture->getHeight();
      s.tint = picture->getTint();
    } else if (auto* fill = dynamic_cast<FillRectSprite*>(&sprite)) {
      s.rect = fill->getRect();
      s.colour = fill->getColour();
    }
    return s;
  }
  bool operator==(const SpriteState& o) const {
    const DrawCommand &a = command, &b = o.command;
    return a.kind == b.kind && a.blendMode == b.blendMode && a.opacity == b.opacity &&
           a.orientation == b.orientation && a.bounds == b.bounds && a.colour == b.colour &&
           a.sourceOrigin == b.sourceOrigin && a.sourceWidth == b.sourceWidth &&
           a.sourceHeight == b.sourceHeight && a.tint == b.tint && a.image == b.image && x == o.x &&
           y == o.y && zOrder == o.zOrder && visible == o.visible && image == o.image &&
           sourceRect == o.sourceRect && flipH == o.flipH && flipV == o.flipV && turns == o.turns &&
           width == o.width && height == o.height && tint == o.tint && colour == o.colour &&
           rect == o.rect;
  }
};

// One random change, with valid arguments, to an image or a fill sprite.
void randomChange(ISprite& sprite, std::mt19937& random,
                  const std::vector<std::shared_ptr<Image>>& images) {
  const auto any = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  if (auto* picture = dynamic_cast<ImageSprite*>(&sprite)) {
    switch (any(10)) {
      case 0: {
        const int32_t left = int32_t(any(8)), top = int32_t(any(8));
        picture->setSourceRect({left, top, left + 1 + int32_t(any(8)), top + 1 + int32_t(any(8))});
        return;
      }
      case 1:
        picture->setFlip(any(2) == 0, any(2) == 0);
        return;
      case 2:
        picture->setQuarterTurns(any(4));
        return;
      case 3:
        picture->setSize(1 + any(40), 1 + any(40));
        return;
      case 4:
        picture->setTint({PixelFormat::Rgba, {uint8_t(any(256)), 255, 128, uint8_t(any(256))}});
        return;
      case 5:
        picture->setImage(images[any(uint32_t(images.size()))]);
        return;
      default:
        break;
    }
  } else if (auto* fill = dynamic_cast<FillRectSprite*>(&sprite); fill != nullptr && any(3) == 0) {
    if (any(2) == 0) {
      fill->setRect(
          {int32_t(any(90)), int32_t(any(60)), 1 + int32_t(any(96)), 1 + int32_t(any(64))});
    } else {
      fill->setColour({PixelFormat::Rgba, {uint8_t(any(256)), 0, 9, uint8_t(any(256))}});
    }
    return;
  }
  switch (any(7)) {
    case 0:
      sprite.setPosition(int32_t(any(96)) - 8, int32_t(any(64)) - 8);
      return;
    case 1:
      sprite.setOpacity(uint8_t(any(256)));
      return;
    case 2:
      sprite.setBlendMode(static_cast<BlendMode>(any(5)));
      return;
    case 3:
      sprite.setZOrder(int32_t(any(5)));
      return;
    case 4:
      sprite.hide();
      return;
    case 5:
      sprite.show();
      return;
    default:
      sprite.invalidate();
      return;
  }
}

// Random interleavings of changes made under the scene lock (by a frame
// callback and by a thread that takes the lock) and changes made without it,
// while frames are composed: each change without the lock is refused before
// it reads or makes anything of the sprite's, which stays exactly as the
// locked changes left it, and every locked change goes through.
TEST(ScreenMisuseTest, ChangesWithoutTheLockTouchNothingWhileLockedOnesRun) {
  MemoryWindow window(96, 64);
  Screen screen(window.getDC(), 96, 64);
  std::vector<std::shared_ptr<Image>> images;
  for (const PixelFormat format : {PixelFormat::Grey, PixelFormat::Rgb, PixelFormat::GreyAlpha,
                                   PixelFormat::Rgba, PixelFormat::Rgbx}) {
    auto image = std::make_shared<Image>(16, 16, format);
    for (size_t i = 0; i < size_t{image->getPitch()} * 16; ++i) image->lock()[i] = uint8_t(i * 7);
    images.push_back(image);
  }
  std::vector<std::shared_ptr<ISprite>> sprites;
  for (int i = 0; i < 6; ++i) {
    sprites.push_back(screen.createImageSprite(i, 8 * i, 4 * i, i % 3, images[size_t(i) % 5]));
  }
  sprites.push_back(screen.createFillRectSprite(6, {0, 0, 40, 30}, 0, Colour{}));
  sprites.push_back(screen.createFillRectSprite(7, {20, 10, 90, 60}, 2, Colour{}));
  for (auto& sprite : sprites) {
    sprite->show();
    sprite->invalidate();
  }
  // Locked changes so far, under the lock.
  uint64_t lockedChanges = 0;
  std::mt19937 callbackRandom(3);
  std::atomic<int> lockedFailures{0};
  screen.addFrameCallback([&](Screen&) {
    try {
      for (int i = 0; i < 3; ++i) {
        ISprite& sprite = *sprites[callbackRandom() % sprites.size()];
        sprite.invalidate();
        randomChange(sprite, callbackRandom, images);
        sprite.invalidate();
        ++lockedChanges;
      }
    } catch (...) {
      ++lockedFailures;
    }
    return false;
  });
  screen.startFrameThread();

  std::atomic<bool> done{false};
  std::thread locker([&] {
    std::mt19937 random(5);
    while (!done) {
      std::lock_guard lock(screen.getSceneLock());
      ISprite& sprite = *sprites[random() % sprites.size()];
      try {
        randomChange(sprite, random, images);
        sprite.invalidate();
      } catch (...) {
        ++lockedFailures;
      }
      ++lockedChanges;
    }
  });
  std::mt19937 random(9);
  int refused = 0, compared = 0, touched = 0;
  for (int attempt = 0; attempt < 4000; ++attempt) {
    ISprite& sprite = *sprites[random() % sprites.size()];
    SpriteState before;
    uint64_t changesBefore;
    {
      std::lock_guard lock(screen.getSceneLock());
      before = SpriteState::of(sprite);
      changesBefore = lockedChanges;
    }
    try {
      randomChange(sprite, random, images);
    } catch (const std::logic_error&) {
      ++refused;
    }
    std::lock_guard lock(screen.getSceneLock());
    if (lockedChanges == changesBefore) {
      ++compared;
      touched += !(SpriteState::of(sprite) == before);
    }
  }
  done = true;
  locker.join();
  screen.stopFrameThread();
  EXPECT_EQ(refused, 4000);
  EXPECT_EQ(touched, 0) << "of " << compared;
  EXPECT_EQ(lockedFailures.load(), 0);
}

#ifndef _WIN32
// A frame thread the system refuses (here: in a process allowed no more
// threads, which takes POSIX's fork and limits) is reported with the
// system's reason, is not counted as running, and leaves changes without the
// lock allowed, as on a stopped Screen.
TEST(ScreenMisuseTest, AFrameThreadTheSystemRefusesIsReported) {
  constexpr int kCannotLimit = 77;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Screen screen(nullptr, 32, 32);
    auto square = screen.createFillRectSprite(1, {0, 0, 8, 8}, 1, Colour{});
    // The process limit does not bind root: the child becomes nobody.
    if (geteuid() == 0 && setuid(65534) != 0) _exit(kCannotLimit);
    const rlimit none{1, 1};
    if (setrlimit(RLIMIT_NPROC, &none) != 0) _exit(kCannotLimit);
    std::thread probe;
    try {
      probe = std::thread([] {});
    } catch (const std::system_error&) {
    }
    if (probe.joinable()) {
      probe.join();
      _exit(kCannotLimit);
    }
    try {
      screen.startFrameThread();
      std::fprintf(stderr, "the frame thread was reported started\n");
      _exit(1);
    } catch (const Win32Exception& e) {
      const std::string what = e.what();
      const std::string start =
          std::string(makeMessage(messages::kCreateThreadFailed, "nubrik::Screen::startFrameThread")
                          .get()) +
          " the frame thread: ";
      if (what.rfind(start, 0) != 0 || what.size() <= start.size() || e.errorCode() == 0) {
        std::fprintf(stderr, "message: %s\n", e.what());
        _exit(2);
      }
    }
    if (screen.isFrameThreadRunning()) _exit(3);
    try {
      square->setPosition(2, 2);
      square->invalidate();
    } catch (const std::logic_error& e) {
      std::fprintf(stderr, "refused: %s\n", e.what());
      _exit(4);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  if (WEXITSTATUS(status) == kCannotLimit) GTEST_SKIP() << "threads cannot be limited here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
}  // namespace nubrik
