// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

// The operations the engine needs from the operating system, grouped as the
// engine uses them. Everything above this header is written once against it;
// platform_linux.cpp implements it on Linux, platform_win32.cpp on Windows.
//
// Calls that can fail return false or null and leave the reason in
// lastError(), as the platform's own calls do.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace nubrik::platform {

// The platform's error code of the call that has just failed on this thread
// (errno on Linux, GetLastError on Windows: a missing file gives 2 on both).
uint32_t lastError();
// The platform's text for an error code of lastError().
std::string errorText(uint32_t code);

// The folder of the running program's own file, where it keeps what it
// ships with (pictures, the default font); empty when the system does not
// say.
std::string programFolder();
// An error of the engine's own, in the range both platforms leave to
// programs (bit 29): what was to be read as a file is not a regular file (a
// pipe, a device, a socket), which a read could wait on for ever. errorText
// calls it "not a regular file".
inline constexpr uint32_t kErrorNotRegularFile = 0x20000001;

// --- Manual-reset events -----------------------------------------------------

inline constexpr uint32_t kInfinite = 0xFFFFFFFF;

struct EventObject;

enum class WaitStatus { Signalled, TimedOut, Failed };

// A manual-reset event, not set; null on failure.
EventObject* createEvent();
void destroyEvent(EventObject* event);
bool setEvent(EventObject* event);
bool resetEvent(EventObject* event);
// Waits up to `timeoutMs` milliseconds (0 polls, kInfinite waits for ever).
WaitStatus waitForEvent(EventObject* event, uint32_t timeoutMs);
// Waits until any of `count` events is set; on Signalled, `index` is the
// lowest index of a set event.
WaitStatus waitForAnyEvent(EventObject* const* events, size_t count, uint32_t timeoutMs,
                           size_t* index);

// --- Waiting on a word ------------------------------------------------------------

// Blocks while `word` holds `expected`, for at most `timeoutNs`; may also
// return early. Cheaper than an event for hand-overs that are usually caught
// by spinning first.
constexpr uint64_t kWaitForever = ~uint64_t{0};
void waitOnWord(const std::atomic<uint32_t>& word, uint32_t expected,
                uint64_t timeoutNs = kWaitForever);
// Wakes every thread blocked in waitOnWord on `word`.
void wakeWord(const std::atomic<uint32_t>& word);

// --- Threads -------------------------------------------------------------------

struct ThreadObject;
using ThreadRoutine = uint32_t (*)(void* argument);

// Runs `routine(argument)` on a new thread; null on failure.
ThreadObject* startThread(ThreadRoutine routine, void* argument);
// Waits without limit for the thread to end, releases it and returns the
// routine's exit code.
uint32_t joinThread(ThreadObject* thread);
// The number of logical processors, at least 1.
uint32_t logicalProcessorCount();

// A thread's set of processors, kept so that another thread can steer it off
// one processor and later let it back. A system may queue a woken thread on
// a busy processor while another idles, for milliseconds (virtual
// processors that idle are halted and look taken); moving the thread is what
// a program can do about it.
struct ProcessorSteerObject;
// For the calling thread; null where it cannot be steered (a system without
// the means, a thread allowed only one processor).
ProcessorSteerObject* createProcessorSteer();
void releaseProcessorSteer(ProcessorSteerObject* steer);
// Keeps the thread off the calling thread's processor, when it may run
// elsewhere; returns whether it did.
bool steerOffCallersProcessor(ProcessorSteerObject* steer);
// Lets the thread run wherever it could before.
void restoreProcessors(ProcessorSteerObject* steer);
// The processor the calling thread runs on; -1 where that is not known.
int currentProcessor();

// --- Files ---------------------------------------------------------------------

struct FileObject;

enum class SeekMethod { Begin, Current, End };

// Opens an existing regular file for reading only; null on failure.
FileObject* openFileForReading(const char* path);
void closeFile(FileObject* file);
bool readFile(FileObject* file, void* buffer, uint32_t count, uint32_t* got);
bool seekFile(FileObject* file, int64_t offset, SeekMethod method, int64_t* position);
bool fileLength(FileObject* file, int64_t* length);

}  // namespace nubrik::platform
