#include "nubrik/base/error_message.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "nubrik/base/platform/platform.h"

namespace nubrik {

namespace {

// Appends `text`, cut to kMaxDetail characters, with control characters
// escaped: a path may hold a line break, and what() must stay one line.
void appendDetail(std::string& out, std::string_view text) {
  const bool cut = text.size() > kMaxDetail;
  if (cut) text = text.substr(0, kMaxDetail);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  if (cut) out += "...";
}

Message copyOf(const char* text, size_t length) {
  auto copy = std::make_shared<char[]>(length + 1);
  std::memcpy(copy.get(), text, length);
  copy[length] = '\0';
  return copy;
}

}  // namespace

Message makeMessage(const char* format, const char* method) {
  if (format == nullptr) throw std::invalid_argument("nubrik::makeMessage: format is null");
  if (method == nullptr) throw std::invalid_argument("nubrik::makeMessage: method is null");
  char buffer[2048];
  // A template without %s leaves the method out.
  int length = std::strstr(format, "%s") != nullptr
                   ? std::snprintf(buffer, sizeof buffer, format, method)
                   : std::snprintf(buffer, sizeof buffer, "%s", format);
  if (length < 0) length = 0;
  if (length >= static_cast<int>(sizeof buffer)) length = sizeof buffer - 1;
  return copyOf(buffer, static_cast<size_t>(length));
}

Message makeMessage(const char* format, const char* method, std::string_view where,
                    std::string_view reason) {
  std::string text = makeMessage(format, method).get();
  if (!where.empty() || !reason.empty()) text += ' ';
  appendDetail(text, where);
  if (!where.empty() && !reason.empty()) text += ": ";
  appendDetail(text, reason);
  return copyOf(text.data(), text.size());
}

std::string describeFile(std::string_view path) {
  std::string text = "file \"";
  // Escaped here too: the name also reaches messages that are not built
  // with makeMessage.
  appendDetail(text, path);
  text += '"';
  return text;
}

std::string describeError(uint32_t code) {
#if defined(_WIN32)
  if (code == platform::kErrorNotRegularFile) return platform::errorText(code);
  return platform::errorText(code) + " (error " + std::to_string(code) + ")";
#else
  return platform::errorText(code);
#endif
}

void refuseNulInPath(std::string_view path, const char* method) {
  if (path.find('\0') == std::string_view::npos) return;
  throw std::invalid_argument(std::string(method) + ": " + describeFile(path) +
                              ": the path holds a NUL character");
}

void throwPlatformError(const char* format, const char* method) {
  const uint32_t code = platform::lastError();
  throw Win32Exception(code, makeMessage(format, method));
}

void throwPlatformError(const char* format, const char* method, std::string_view where) {
  const uint32_t code = platform::lastError();
  throw Win32Exception(code, makeMessage(format, method, where, describeError(code)));
}

}  // namespace nubrik
