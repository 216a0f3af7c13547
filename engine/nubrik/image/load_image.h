#pragma once

#include <memory>
#include <string>

#include "nubrik/image/image.h"

namespace nubrik {

// Decodes the PNG file at `path` (whatever its name) into a new image.
// Throws Win32Exception when the file cannot be opened and IoException when
// it is not a valid PNG; nothing is left open either way.
std::shared_ptr<Image> loadImageFromFile(const std::string& path);

}  // namespace nubrik
