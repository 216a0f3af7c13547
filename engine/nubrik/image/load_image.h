#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "nubrik/image/image.h"

namespace nubrik {

// Decodes the PNG file at `path` (whatever its name) into a new image.
// Throws Win32Exception when the file cannot be opened and IoException when
// it is not a valid PNG; nothing is left open either way. Both messages name
// the file and the reason, on one line:
//   CreateFileA API failed in nubrik::FileStreamReader::FileStreamReader
//   method. file "load.gra": No such file or directory (error 2)
//   Invalid file format in nubrik::PngLoader::PngLoader method.
//   file "load.gra": Not a PNG file
// A path holding a NUL character throws std::invalid_argument.
std::shared_ptr<Image> loadImageFromFile(const std::string& path);

// Decodes the PNG held in the `size` bytes at `bytes` (copied first, so the
// caller may free them at once) into a new image. Throws IoException when
// they are not a valid PNG, its message naming the data as
// memory (<size> bytes), and std::invalid_argument when `bytes` is null
// while `size` is not 0 (null with a size of 0 is empty data).
std::shared_ptr<Image> loadImageFromMemory(const void* bytes, size_t size);

}  // namespace nubrik
