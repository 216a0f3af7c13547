#pragma once

#include <cstdint>
#include <exception>
#include <memory>

namespace nubrik {

// A formatted message, shared by every copy of an exception that carries it.
using Message = std::shared_ptr<const char[]>;

// The engine's message templates; each is filled with the fully qualified
// name of the method that failed.
namespace messages {
inline constexpr char kOutOfMemory[] = "Out of memory in %s method.";
inline constexpr char kInvalidFileFormat[] = "Invalid file format in %s method.";
inline constexpr char kThreadInterrupted[] = "Thread interupted in %s method.";
inline constexpr char kCreateFileFailed[] = "CreateFileA API failed in %s method.";
inline constexpr char kReadFileFailed[] = "ReadFile API failed in %s method.";
inline constexpr char kInvalidSeekPosition[] = "Invalid seek position in %s method.";
inline constexpr char kSetFilePointerFailed[] = "SetFilePointer API failed in %s method.";
inline constexpr char kGetFileSizeFailed[] = "GetFileSizeEx API failed in %s method.";
inline constexpr char kCreateEventFailed[] = "CreateEvent API failed in %s method.";
inline constexpr char kSetEventFailed[] = "SetEvent API failed in %s method.";
inline constexpr char kResetEventFailed[] = "ResetEvent API failed in %s method.";
inline constexpr char kWaitFailed[] = "WaitForSingleObject API failed in %s method.";
}  // namespace messages

// Fills `format` (one %s) with `method`, at most 2047 characters. Only the
// engine's own templates and method names are passed here, never outside text.
Message makeMessage(const char* format, const char* method);

// Throws Win32Exception for the platform call that has just failed, with the
// platform's error code read before the message is built: building it
// allocates, and an allocation may change the code.
[[noreturn]] void throwPlatformError(const char* format, const char* method);

// The root of the engine's failures. Copies share one message text, so
// copying never allocates and never fails.
class Exception : public std::exception {
 public:
  explicit Exception(Message message) noexcept : message_(std::move(message)) {}
  const char* what() const noexcept override;
  const Message& message() const noexcept { return message_; }

 private:
  Message message_;
};

// A sleep or wait was interrupted by the thread's owner.
class InterruptedException : public Exception {
 public:
  using Exception::Exception;
};

// Bad data or a bad position in a stream or file format.
class IoException : public Exception {
 public:
  using Exception::Exception;
};

// A platform call failed; errorCode is the platform's code for it.
class Win32Exception : public Exception {
 public:
  Win32Exception(uint32_t errorCode, Message message) noexcept
      : Exception(std::move(message)), errorCode_(errorCode) {}
  uint32_t errorCode() const noexcept { return errorCode_; }

 private:
  uint32_t errorCode_;
};

}  // namespace nubrik
