// The platform layer on Linux: POSIX threads and files, and manual-reset
// events on one process-wide mutex with a condition variable per waiter.

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "nubrik/base/platform/platform.h"
#include "nubrik/base/platform/random.h"

namespace nubrik::platform {

uint32_t lastError() { return static_cast<uint32_t>(errno); }

std::string programFolder() {
  char path[PATH_MAX + 1];
  const ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
  if (length <= 0) return {};
  const std::string program(path, static_cast<size_t>(length));
  const size_t slash = program.rfind('/');
  return slash == std::string::npos ? std::string() : program.substr(0, slash == 0 ? 1 : slash);
}

std::string errorText(uint32_t code) {
  if (code == kErrorNotRegularFile) return "not a regular file";
  return std::strerror(static_cast<int>(code));
}

// --- Events --------------------------------------------------------------------

struct EventObject {
  bool signalled = false;
  // Waiters blocked on this event; each is woken when the event is set.
  std::vector<std::condition_variable*> waiters;
};

namespace {

// Guards every event's state. The sections it covers are a few instructions
// long, and a waiter is woken only by the events it waits for.
std::mutex& eventMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

EventObject* createEvent() {
  auto* event = new (std::nothrow) EventObject;
  if (event == nullptr) errno = ENOMEM;
  return event;
}

void destroyEvent(EventObject* event) { delete event; }

bool setEvent(EventObject* event) {
  if (event == nullptr) return errno = EINVAL, false;
  std::lock_guard lock(eventMutex());
  event->signalled = true;
  for (std::condition_variable* waiter : event->waiters) waiter->notify_one();
  return true;
}

bool resetEvent(EventObject* event) {
  if (event == nullptr) return errno = EINVAL, false;
  std::lock_guard lock(eventMutex());
  event->signalled = false;
  return true;
}

WaitStatus waitForEvent(EventObject* event, uint32_t timeoutMs) {
  size_t index = 0;
  return waitForAnyEvent(&event, 1, timeoutMs, &index);
}

WaitStatus waitForAnyEvent(EventObject* const* events, size_t count, uint32_t timeoutMs,
                           size_t* index) {
  if (count == 0 || events == nullptr ||
      std::any_of(events, events + count, [](EventObject* e) { return e == nullptr; })) {
    errno = EINVAL;
    return WaitStatus::Failed;
  }
  std::unique_lock lock(eventMutex());
  auto firstSet = [&]() -> bool {
    for (size_t i = 0; i < count; ++i) {
      if (events[i]->signalled) {
        *index = i;
        return true;
      }
    }
    return false;
  };
  if (firstSet()) return WaitStatus::Signalled;
  if (timeoutMs == 0) return WaitStatus::TimedOut;

  std::condition_variable wake;
  // Every way out, a throw included, takes `wake` off the events it was put
  // on, so that no event is left pointing at it.
  struct Registration {
    EventObject* const* events;
    std::condition_variable* wake;
    size_t count = 0;
    ~Registration() {
      for (size_t i = 0; i < count; ++i) {
        auto& waiters = events[i]->waiters;
        waiters.erase(std::find(waiters.begin(), waiters.end(), wake));
      }
    }
  } registration{events, &wake};
  try {
    for (; registration.count < count; ++registration.count) {
      events[registration.count]->waiters.push_back(&wake);
    }
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return WaitStatus::Failed;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool signalled = false;
  while (!(signalled = firstSet())) {
    if (timeoutMs == kInfinite) {
      wake.wait(lock);
    } else if (wake.wait_until(lock, deadline) == std::cv_status::timeout) {
      signalled = firstSet();
      break;
    }
  }
  return signalled ? WaitStatus::Signalled : WaitStatus::TimedOut;
}

// --- Threads -------------------------------------------------------------------

struct ThreadObject {
  pthread_t thread{};
  ThreadRoutine routine = nullptr;
  void* argument = nullptr;
  uint32_t exitCode = 0;
};

namespace {

void* runThread(void* object) {
  auto* thread = static_cast<ThreadObject*>(object);
  thread->exitCode = thread->routine(thread->argument);
  return nullptr;
}

}  // namespace

ThreadObject* startThread(ThreadRoutine routine, void* argument) {
  auto* thread = new (std::nothrow) ThreadObject;
  if (thread == nullptr) return errno = ENOMEM, nullptr;
  thread->routine = routine;
  thread->argument = argument;
  const int error = pthread_create(&thread->thread, nullptr, runThread, thread);
  if (error != 0) {
    delete thread;
    errno = error;
    return nullptr;
  }
  return thread;
}

uint32_t joinThread(ThreadObject* thread) {
  if (thread == nullptr) return 0;
  pthread_join(thread->thread, nullptr);
  const uint32_t exitCode = thread->exitCode;
  delete thread;
  return exitCode;
}

uint32_t logicalProcessorCount() { return std::max(1u, std::thread::hardware_concurrency()); }

struct ProcessorSteerObject {
  pid_t thread = 0;
  cpu_set_t allowed{};
};

ProcessorSteerObject* createProcessorSteer() {
  auto* steer = new (std::nothrow) ProcessorSteerObject;
  if (steer == nullptr) return nullptr;
  steer->thread = static_cast<pid_t>(syscall(SYS_gettid));
  // More processors than a cpu_set_t holds, or only one: not steered.
  if (sched_getaffinity(steer->thread, sizeof steer->allowed, &steer->allowed) != 0 ||
      CPU_COUNT(&steer->allowed) < 2) {
    delete steer;
    return nullptr;
  }
  return steer;
}

void releaseProcessorSteer(ProcessorSteerObject* steer) { delete steer; }

bool steerOffCallersProcessor(ProcessorSteerObject* steer) {
  const int processor = sched_getcpu();
  if (steer == nullptr || processor < 0 || processor >= CPU_SETSIZE ||
      !CPU_ISSET(processor, &steer->allowed)) {
    return false;
  }
  cpu_set_t others = steer->allowed;
  CPU_CLR(processor, &others);
  return sched_setaffinity(steer->thread, sizeof others, &others) == 0;
}

void restoreProcessors(ProcessorSteerObject* steer) {
  if (steer != nullptr) sched_setaffinity(steer->thread, sizeof steer->allowed, &steer->allowed);
}

int currentProcessor() { return sched_getcpu(); }

// --- Files ---------------------------------------------------------------------

struct FileObject {
  int descriptor = -1;
};

namespace {

// 0 for a regular file, else the error to report: pictures are read only
// from regular files, never from directories, pipes or devices.
int regularFileError(const struct stat& status) {
  if (S_ISREG(status.st_mode)) return 0;
  return S_ISDIR(status.st_mode) ? EISDIR : static_cast<int>(kErrorNotRegularFile);
}

}  // namespace

FileObject* openFileForReading(const char* path) {
  // Checked before opening, since opening a pipe waits for a writer and
  // opening a device may act on it; checked again on what was opened, in
  // case the name changed hands meanwhile. Opening without blocking keeps
  // that second look from waiting too.
  struct stat status;
  if (::stat(path, &status) != 0) return nullptr;
  if (const int error = regularFileError(status); error != 0) return errno = error, nullptr;
  int descriptor;
  do {
    descriptor = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return nullptr;
  int error = 0;
  if (::fstat(descriptor, &status) != 0) {
    error = errno;
  } else if ((error = regularFileError(status)) == 0) {
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags < 0 || ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) error = errno;
  }
  if (error != 0) {
    ::close(descriptor);
    errno = error;
    return nullptr;
  }
  auto* file = new (std::nothrow) FileObject{descriptor};
  if (file == nullptr) {
    ::close(descriptor);
    errno = ENOMEM;
  }
  return file;
}

void closeFile(FileObject* file) {
  if (file == nullptr) return;
  ::close(file->descriptor);
  delete file;
}

bool readFile(FileObject* file, void* buffer, uint32_t count, uint32_t* got) {
  ssize_t result;
  do {
    result = ::read(file->descriptor, buffer, count);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return false;
  *got = static_cast<uint32_t>(result);
  return true;
}

bool seekFile(FileObject* file, int64_t offset, SeekMethod method, int64_t* position) {
  const int whence = method == SeekMethod::Begin ? SEEK_SET
                     : method == SeekMethod::End ? SEEK_END
                                                 : SEEK_CUR;
  const off_t result = ::lseek(file->descriptor, static_cast<off_t>(offset), whence);
  if (result < 0) return false;
  if (position != nullptr) *position = result;
  return true;
}

bool fileLength(FileObject* file, int64_t* length) {
  struct stat status;
  if (::fstat(file->descriptor, &status) != 0) return false;
  *length = status.st_size;
  return true;
}

// --- Random numbers --------------------------------------------------------------

int random15() {
  thread_local uint32_t state = 1;
  state = state * 214013u + 2531011u;
  return static_cast<int>((state >> 16) & 0x7FFF);
}

// --- Waiting on a word ------------------------------------------------------------

void waitOnWord(const std::atomic<uint32_t>& word, uint32_t expected, uint64_t timeoutNs) {
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
  timespec timeout{};
  timeout.tv_sec = static_cast<time_t>(std::min<uint64_t>(timeoutNs / 1'000'000'000, INT32_MAX));
  timeout.tv_nsec = static_cast<long>(timeoutNs % 1'000'000'000);
  // The kernel compares the word with `expected` before it sleeps, so a
  // change made after the caller's last look is never missed.
  syscall(SYS_futex, reinterpret_cast<const uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected,
          timeoutNs == kWaitForever ? nullptr : &timeout, nullptr, 0);
}

void wakeWord(const std::atomic<uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<const uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
          nullptr, 0);
}

}  // namespace nubrik::platform
