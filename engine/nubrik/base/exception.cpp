#include "nubrik/base/exception.h"

#include <cstdio>
#include <cstring>

#include "nubrik/base/platform/platform.h"

namespace nubrik {

Message makeMessage(const char* format, const char* method) {
  char buffer[2048];
  int length = std::snprintf(buffer, sizeof buffer, format, method);
  if (length < 0) length = 0;
  if (length >= static_cast<int>(sizeof buffer)) length = sizeof buffer - 1;
  auto text = std::make_shared<char[]>(static_cast<size_t>(length) + 1);
  std::memcpy(text.get(), buffer, static_cast<size_t>(length));
  text[length] = '\0';
  return text;
}

void throwPlatformError(const char* format, const char* method) {
  const uint32_t code = platform::lastError();
  throw Win32Exception(code, makeMessage(format, method));
}

const char* Exception::what() const noexcept {
  return message_ ? message_.get() : "Unknown exception";
}

}  // namespace nubrik
