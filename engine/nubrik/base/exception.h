#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <utility>

namespace nubrik {

// A formatted message, shared by every copy of an exception that carries it.
using Message = std::shared_ptr<const char[]>;

// The root of the engine's failures. Copies share one message text, so
// copying never allocates and never fails. A null message is allowed: what()
// then says "Unknown exception".
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
