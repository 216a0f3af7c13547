#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nubrik/image/image.h"
#include "nubrik/screen/screen.h"

namespace nubrik {

// The demonstration's three pictures: "load.gra", "snow.png" and "snow2.png".
struct DemoPictures {
  std::shared_ptr<IImage> picture;
  std::shared_ptr<IImage> snow;
  std::shared_ptr<IImage> snow2;
};

// Loads the three pictures from `folder`; when it is empty, from beside the
// program where they are there, otherwise from the working directory.
// Throws PictureError (app/scene.h) naming the first that cannot be loaded.
DemoPictures loadDemoPictures(const std::string& folder);

struct Snowflake {
  int32_t id;
  int32_t drift;        // base horizontal step: 0
  int32_t speed;        // rows per frame, 1 to 4; also bounds the horizontal step
  int32_t baseOpacity;  // 32, 64, 128 or 192, by the two lowest bits of id
  std::shared_ptr<ISprite> sprite;
};

// Creates and shows the demonstration's sprites on `screen`: a white
// background, a red square, fifty half-transparent pictures along a diagonal,
// a translucent green square and `flakeCount` additive snowflakes (identifiers
// from 100 on) placed by the calling thread's random sequence. Used by the
// scene and by the benchmarks, so that both measure the same picture.
std::vector<Snowflake> buildDemoLayout(Screen& screen, const DemoPictures& pictures,
                                       int32_t flakeCount = 900);

}  // namespace nubrik
