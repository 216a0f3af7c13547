#include "app/demo_layout.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

#include "app/scene.h"
#include "app/sprite_rules.h"
#include "nubrik/base/platform/platform.h"
#include "nubrik/base/platform/random.h"
#include "nubrik/image/load_image.h"

namespace nubrik {

namespace {

constexpr int32_t kSnowOpacities[] = {32, 64, 128, 192};

std::shared_ptr<IImage> loadPicture(const std::string& folder, const std::string& name) {
  const std::string path = folder.empty() ? name : folder + "/" + name;
  try {
    return loadImageFromFile(path);
  } catch (const std::exception& e) {
    throw PictureError(path, e.what());
  }
}

uint32_t draw() { return static_cast<uint32_t>(platform::random15()); }

}  // namespace

DemoPictures loadDemoPictures(const std::string& given) {
  // Beside the program, whatever the working directory, where they are
  // there; otherwise in the working directory.
  std::string folder = given;
  if (folder.empty()) {
    const std::string own = platform::programFolder();
    std::error_code error;
    if (!own.empty() && std::filesystem::is_regular_file(own + "/load.gra", error)) folder = own;
  }
  DemoPictures pictures;
  pictures.picture = loadPicture(folder, "load.gra");
  pictures.snow = loadPicture(folder, "snow.png");
  pictures.snow2 = loadPicture(folder, "snow2.png");
  return pictures;
}

std::vector<Snowflake> buildDemoLayout(Screen& screen, const DemoPictures& pictures,
                                       int32_t flakeCount) {
  const auto width = static_cast<int32_t>(screen.getWidth());
  const auto height = static_cast<int32_t>(screen.getHeight());
  auto fill = [&](int32_t id, Rect rect, int32_t zOrder, Colour colour) {
    showSprite(*screen.createFillRectSprite(id, rect, zOrder, colour));
  };
  fill(0, {0, 0, width, height}, 0, Colour{PixelFormat::Rgb, {255, 255, 255, 0}});
  fill(10, {50, 50, 160, 160}, 2, Colour{PixelFormat::Rgb, {255, 0, 0, 0}});
  for (int32_t k = 0; k < 50; ++k) {
    auto sprite = screen.createImageSprite(11 + k, 75 + 5 * k, 75 + 5 * k, 3 + k, pictures.picture);
    changeOpacity(*sprite, 128);
    showSprite(*sprite);
  }
  fill(50, {100, 100, 200, 200}, 100, Colour{PixelFormat::Rgba, {0, 255, 0, 60}});

  std::vector<Snowflake> flakes;
  flakes.reserve(static_cast<size_t>(std::max(flakeCount, 0)));
  for (int32_t id = 100; id < 100 + flakeCount; ++id) {
    const auto x = static_cast<int32_t>(draw() % static_cast<uint32_t>(width));
    const auto y = static_cast<int32_t>(draw() % static_cast<uint32_t>(height));
    const int32_t speed = std::max<int32_t>(static_cast<int32_t>(draw() % 5), 1);
    auto sprite =
        screen.createImageSprite(id, x, y, 500, speed == 1 ? pictures.snow2 : pictures.snow);
    Snowflake flake{id, 0, speed, kSnowOpacities[id & 3], sprite};
    changeBlendMode(*sprite, BlendMode::Add);
    changeOpacity(*sprite, static_cast<uint8_t>(flake.baseOpacity));
    showSprite(*sprite);
    flakes.push_back(std::move(flake));
  }
  return flakes;
}

}  // namespace nubrik
