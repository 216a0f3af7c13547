#include "nubrik/base/exception.h"

namespace nubrik {

const char* Exception::what() const noexcept {
  return message_ ? message_.get() : "Unknown exception";
}

}  // namespace nubrik
