#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "nubrik/image/image.h"

namespace nubrik {

// Decodes the PNG file at `path` (whatever its name) into a new image.
// Throws Win32Exception when the file cannot be opened and IoException when
// it is not a valid PNG; nothing is left open either way.
std::shared_ptr<Image> loadImageFromFile(const std::string& path);

// Decodes the PNG held in the `size` bytes at `bytes` (copied first, so the
// caller may free them at once) into a new image. Throws IoException when
// they are not a valid PNG, and std::invalid_argument when `bytes` is null
// while `size` is not 0.
std::shared_ptr<Image> loadImageFromMemory(const void* bytes, size_t size);

}  // namespace nubrik
