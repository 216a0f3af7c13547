// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "nubrik/base/exception.h"

namespace nubrik {

// The engine's message templates; each is filled with the fully qualified
// name of the method that failed (those naming what could not be done with
// a file name the file instead, after them).
namespace messages {
inline constexpr char kOutOfMemory[] = "Out of memory in %s method.";
inline constexpr char kInvalidFileFormat[] = "Invalid file format in %s method.";
inline constexpr char kThreadInterrupted[] = "Thread interupted in %s method.";
inline constexpr char kInvalidSeekPosition[] = "Invalid seek position in %s method.";
// A platform call that failed is named as the platform names it: the Win32
// call on Windows; elsewhere what could not be done (the reason that follows
// is the system's, the code is the exception's errorCode()).
#if defined(_WIN32)
inline constexpr char kCreateFileFailed[] = "CreateFileA API failed in %s method.";
inline constexpr char kReadFileFailed[] = "ReadFile API failed in %s method.";
inline constexpr char kSetFilePointerFailed[] = "SetFilePointer API failed in %s method.";
inline constexpr char kGetFileSizeFailed[] = "GetFileSizeEx API failed in %s method.";
inline constexpr char kCreateEventFailed[] = "CreateEvent API failed in %s method.";
inline constexpr char kSetEventFailed[] = "SetEvent API failed in %s method.";
inline constexpr char kResetEventFailed[] = "ResetEvent API failed in %s method.";
inline constexpr char kWaitFailed[] = "WaitForSingleObject API failed in %s method.";
inline constexpr char kCreateThreadFailed[] = "_beginthreadex API failed in %s method.";
#else
inline constexpr char kCreateFileFailed[] = "cannot open";
inline constexpr char kReadFileFailed[] = "cannot read";
inline constexpr char kSetFilePointerFailed[] = "cannot seek in";
inline constexpr char kGetFileSizeFailed[] = "cannot tell the size of";
inline constexpr char kCreateEventFailed[] = "cannot make an event in %s.";
inline constexpr char kSetEventFailed[] = "cannot set an event in %s.";
inline constexpr char kResetEventFailed[] = "cannot reset an event in %s.";
inline constexpr char kWaitFailed[] = "cannot wait for an event in %s.";
inline constexpr char kCreateThreadFailed[] = "cannot start a thread in %s.";
#endif
}  // namespace messages

// Fills `format` (one %s) with `method`, at most 2047 characters. Only the
// engine's own templates and method names are passed here, never outside text.
// Neither may be null (std::invalid_argument).
Message makeMessage(const char* format, const char* method);

// The same message followed by where the failure happened and why:
//
//   <template filled with method> <where>: <reason>
//   cannot open file "load.gra": No such file or directory
//   CreateFileA API failed in nubrik::FileStreamReader::FileStreamReader
//   method. file "load.gra": The system cannot find the file specified.
//   (error 2)
//
// `where` and `reason` come from outside (a path, the system's text), so
// they are appended, never used as a format. Each is cut to kMaxDetail
// characters and control characters are written as \xNN, so the message is
// always one line of bounded length. Either may be empty.
inline constexpr size_t kMaxDetail = 4096;
Message makeMessage(const char* format, const char* method, std::string_view where,
                    std::string_view reason);

// How a file is named in messages: file "<path>", control characters
// written as \xNN.
std::string describeFile(std::string_view path);

// The reason a message gives for a platform error code: the system's text,
// and on Windows the code, "... (error 2)"; for an error of the engine's own
// (platform::kErrorNotRegularFile), its text alone.
std::string describeError(uint32_t code);

// Throws std::invalid_argument, "<method>: file "<path>": the path holds a
// NUL character", when it does: the platform would open the path cut there,
// which names another file.
void refuseNulInPath(std::string_view path, const char* method);

// Throws Win32Exception for the platform call that has just failed, with the
// platform's error code read before the message is built: building it
// allocates, and an allocation may change the code. The reason given after
// `where` is the system's text for the code, then "(error <code>)".
[[noreturn]] void throwPlatformError(const char* format, const char* method);
[[noreturn]] void throwPlatformError(const char* format, const char* method,
                                     std::string_view where);

}  // namespace nubrik
