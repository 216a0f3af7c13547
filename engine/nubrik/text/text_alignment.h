#pragma once

#include <cstdint>

namespace nubrik {

// Where each line of a text lies against its pen origin: starting there,
// centred on it, or ending there.
enum class TextAlignment : int32_t {
  Left = 0,
  Centre = 1,
  Right = 2,
};

}  // namespace nubrik
