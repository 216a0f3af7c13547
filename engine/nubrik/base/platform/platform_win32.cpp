// The platform layer on Windows: kernel events, waits, critical sections,
// runtime threads and file handles, each a thin layer over its Win32 call.

#include "nubrik/base/platform/win32_api.h"
// After windows.h, which it needs.
#include <process.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "nubrik/base/platform/platform.h"
#include "nubrik/base/platform/random.h"
#include "nubrik/base/recursive_lock.h"

namespace nubrik::platform {

namespace {

// The code of the last failed call, taken at once: whatever runs before the
// caller asks (a message being formatted, memory allocated) may change
// GetLastError.
thread_local uint32_t failedCode = 0;

bool failed() {
  failedCode = GetLastError();
  return false;
}

bool failedWith(DWORD code) {
  failedCode = code;
  SetLastError(code);
  return false;
}

HANDLE handleOf(EventObject* event) { return reinterpret_cast<HANDLE>(event); }
HANDLE handleOf(FileObject* file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

uint32_t lastError() { return failedCode; }

std::string programFolder() {
  char name[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, name, sizeof name);
  if (length == 0 || length >= sizeof name) return {};
  const std::string program(name, length);
  const size_t slash = program.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

std::string errorText(uint32_t code) {
  if (code == kErrorNotRegularFile) return "not a regular file";
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  // The system's texts end with a full stop and a line break.
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  if (length == 0) return "error " + std::to_string(code);
  return std::string(text, length);
}

// --- Events --------------------------------------------------------------------

EventObject* createEvent() {
  // Manual reset, not signalled, unnamed.
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) failed();
  return reinterpret_cast<EventObject*>(event);
}

void destroyEvent(EventObject* event) {
  if (event != nullptr) CloseHandle(handleOf(event));
}

bool setEvent(EventObject* event) {
  if (event == nullptr) return failedWith(ERROR_INVALID_HANDLE);
  return SetEvent(handleOf(event)) != 0 || failed();
}

bool resetEvent(EventObject* event) {
  if (event == nullptr) return failedWith(ERROR_INVALID_HANDLE);
  return ResetEvent(handleOf(event)) != 0 || failed();
}

namespace {

// WAIT_ABANDONED only comes from mutexes; it ends a wait like a signal does.
WaitStatus waitStatus(DWORD result, DWORD count, size_t* index) {
  if (result < WAIT_OBJECT_0 + count) {
    *index = result - WAIT_OBJECT_0;
    return WaitStatus::Signalled;
  }
  if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count) {
    *index = result - WAIT_ABANDONED_0;
    return WaitStatus::Signalled;
  }
  if (result == WAIT_FAILED) {
    failed();
    return WaitStatus::Failed;
  }
  return WaitStatus::TimedOut;  // WAIT_TIMEOUT, and nothing else comes without alerts
}

}  // namespace

WaitStatus waitForEvent(EventObject* event, uint32_t timeoutMs) {
  if (event == nullptr) {
    failedWith(ERROR_INVALID_HANDLE);
    return WaitStatus::Failed;
  }
  size_t index = 0;
  return waitStatus(WaitForSingleObject(handleOf(event), timeoutMs), 1, &index);
}

WaitStatus waitForAnyEvent(EventObject* const* events, size_t count, uint32_t timeoutMs,
                           size_t* index) {
  if (count == 0 || events == nullptr ||
      std::any_of(events, events + count, [](EventObject* e) { return e == nullptr; })) {
    failedWith(ERROR_INVALID_PARAMETER);
    return WaitStatus::Failed;
  }
  // The system waits for at most MAXIMUM_WAIT_OBJECTS handles at once.
  if (count > MAXIMUM_WAIT_OBJECTS) {
    failedWith(ERROR_INVALID_PARAMETER);
    return WaitStatus::Failed;
  }
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  for (size_t i = 0; i < count; ++i) handles[i] = handleOf(events[i]);
  const auto n = static_cast<DWORD>(count);
  // Any one of them (FALSE); when several are set, the lowest index.
  return waitStatus(WaitForMultipleObjects(n, handles, FALSE, timeoutMs), n, index);
}

// --- Locks ---------------------------------------------------------------------

}  // namespace nubrik::platform

namespace nubrik {

namespace {

CRITICAL_SECTION* sectionOf(unsigned char* storage) {
  return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

}  // namespace

RecursiveLock::RecursiveLock() noexcept {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof(section_) &&
                alignof(CRITICAL_SECTION) <= alignof(void*));
  InitializeCriticalSection(sectionOf(section_));
}
RecursiveLock::~RecursiveLock() { DeleteCriticalSection(sectionOf(section_)); }
void RecursiveLock::enterSystemLock() noexcept { EnterCriticalSection(sectionOf(section_)); }
void RecursiveLock::leaveSystemLock() noexcept { LeaveCriticalSection(sectionOf(section_)); }
bool RecursiveLock::tryEnterSystemLock() noexcept {
  return TryEnterCriticalSection(sectionOf(section_)) != 0;
}

}  // namespace nubrik

namespace nubrik::platform {

// --- Threads -------------------------------------------------------------------

struct ThreadObject {
  HANDLE handle = nullptr;
  ThreadRoutine routine = nullptr;
  void* argument = nullptr;
};

namespace {

// The runtime's thread entry has its own calling convention.
unsigned __stdcall runThread(void* object) {
  auto* thread = static_cast<ThreadObject*>(object);
  return thread->routine(thread->argument);
}

}  // namespace

ThreadObject* startThread(ThreadRoutine routine, void* argument) {
  auto* thread = new (std::nothrow) ThreadObject{nullptr, routine, argument};
  if (thread == nullptr) return failedWith(ERROR_NOT_ENOUGH_MEMORY), nullptr;
  // The runtime's own start, so that its per-thread state (rand's among it)
  // is set up for the new thread; it runs at once.
  const uintptr_t handle = _beginthreadex(nullptr, 0, runThread, thread, 0, nullptr);
  if (handle == 0) {
    const DWORD code = GetLastError();
    delete thread;
    failedWith(code != 0 ? code : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  thread->handle = reinterpret_cast<HANDLE>(handle);
  return thread;
}

uint32_t joinThread(ThreadObject* thread) {
  if (thread == nullptr) return 0;
  WaitForSingleObject(thread->handle, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeThread(thread->handle, &exitCode);
  CloseHandle(thread->handle);
  delete thread;
  return exitCode;
}

uint32_t logicalProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return std::max<uint32_t>(1, info.dwNumberOfProcessors);
}

// Nothing is steered on Windows, where the stall that steering answers has
// not been seen.
struct ProcessorSteerObject {};
ProcessorSteerObject* createProcessorSteer() { return nullptr; }
void releaseProcessorSteer(ProcessorSteerObject*) {}
bool steerOffCallersProcessor(ProcessorSteerObject*) { return false; }
void restoreProcessors(ProcessorSteerObject*) {}

int currentProcessor() { return static_cast<int>(GetCurrentProcessorNumber()); }

// --- Files ---------------------------------------------------------------------

FileObject* openFileForReading(const char* path) {
  if (path == nullptr) return failedWith(ERROR_INVALID_PARAMETER), nullptr;
  // Read only; others may read it too, not write it; it must exist.
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failed(), nullptr;
  // Pipes, consoles and devices are not files to read pictures from: a read
  // on them could wait for ever.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return failedWith(kErrorNotRegularFile), nullptr;
  }
  return reinterpret_cast<FileObject*>(file);
}

void closeFile(FileObject* file) {
  if (file != nullptr) CloseHandle(handleOf(file));
}

bool readFile(FileObject* file, void* buffer, uint32_t count, uint32_t* got) {
  DWORD read = 0;
  if (!ReadFile(handleOf(file), buffer, count, &read, nullptr)) return failed();
  *got = read;
  return true;
}

bool seekFile(FileObject* file, int64_t offset, SeekMethod method, int64_t* position) {
  const DWORD moveMethod = method == SeekMethod::Begin ? FILE_BEGIN
                           : method == SeekMethod::End ? FILE_END
                                                       : FILE_CURRENT;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER moved;
  if (!SetFilePointerEx(handleOf(file), distance, &moved, moveMethod)) return failed();
  if (position != nullptr) *position = moved.QuadPart;
  return true;
}

bool fileLength(FileObject* file, int64_t* length) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handleOf(file), &size)) return failed();
  *length = size.QuadPart;
  return true;
}

// --- Random numbers --------------------------------------------------------------

// The runtime's own generator: per-thread state from 1, the same recurrence.
int random15() { return std::rand(); }

// --- Waiting on a word ------------------------------------------------------------

namespace {

// One lock and condition for every word: a waiter may wake for another
// word's change, which its caller's loop tolerates. The word is compared
// under the lock, and wakeWord passes through it, so no change is missed.
SRWLOCK wordLock = SRWLOCK_INIT;
CONDITION_VARIABLE wordChanged = CONDITION_VARIABLE_INIT;

}  // namespace

void waitOnWord(const std::atomic<uint32_t>& word, uint32_t expected, uint64_t timeoutNs) {
  // Whole milliseconds, rounded up: a timed wait never ends before its time.
  const DWORD ms =
      timeoutNs == kWaitForever
          ? INFINITE
          : static_cast<DWORD>(std::min<uint64_t>((timeoutNs + 999'999) / 1'000'000, INFINITE - 1));
  AcquireSRWLockExclusive(&wordLock);
  if (word.load() == expected) SleepConditionVariableSRW(&wordChanged, &wordLock, ms, 0);
  ReleaseSRWLockExclusive(&wordLock);
}

void wakeWord(const std::atomic<uint32_t>&) {
  AcquireSRWLockExclusive(&wordLock);
  ReleaseSRWLockExclusive(&wordLock);
  WakeAllConditionVariable(&wordChanged);
}

}  // namespace nubrik::platform
