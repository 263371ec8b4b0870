// Named events and mutexes of the stand-in, and WaitForSingleObject.
//
// An event's state is one word in a per-user shared-memory object, so every
// process of the user that opens the name sees SetEvent and ResetEvent. A
// mutex is an flock on the name's lock file: the lock goes with its holder,
// so a crashed owner never leaves it taken (flock cannot tell that case apart,
// so the next wait reports WAIT_OBJECT_0 rather than WAIT_ABANDONED). Both
// live as long as some handle of some process holds them (sync/object_hold.h).
// Waits poll: nothing in the component waits long.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include "handles/handle_table.h"
#include "sync/named_objects.h"
#include "sync/object_hold.h"

namespace {

using kv::platform::HandleKind;
using kv::platform::HandleObject;
using kv::platform::sync::ObjectHold;

class EventObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::Event;
  EventObject() : HandleObject(kKind) {}
  ~EventObject() override {
    if (state && state != &local) munmap(state, sizeof(std::atomic<uint32_t>));
  }
  std::atomic<uint32_t> local{0};
  std::atomic<uint32_t>* state = &local;  // bit 0: signalled
  bool manualReset = true;
  std::unique_ptr<ObjectHold> hold;  // named events only
};

class MutexObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::Mutex;
  MutexObject() : HandleObject(kKind) {}
  std::unique_ptr<ObjectHold> hold;
  int fd = -1;  // the hold's lock file
  std::mutex guard;
  std::thread::id owner;
  int recursion = 0;
};

// Maps the event word behind `hold`; a fresh name gets a new, reset word.
std::atomic<uint32_t>* MapEventWord(const ObjectHold& hold, bool fresh) {
  const char* shm = hold.ShmName().c_str();
  int fd = -1;
  if (fresh) {
    shm_unlink(shm);
    fd = shm_open(shm, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 && ftruncate(fd, sizeof(std::atomic<uint32_t>)) != 0) {
      const int error = errno;
      close(fd);
      errno = error;
      fd = -1;
    }
  } else {
    fd = shm_open(shm, O_RDWR | O_CLOEXEC, 0600);
  }
  if (fd < 0) {
    SetLastError(kv::platform::sync::NamedObjectError(errno));
    return nullptr;
  }
  void* p = mmap(nullptr, sizeof(std::atomic<uint32_t>), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  const int error = errno;
  close(fd);
  if (p == MAP_FAILED) {
    SetLastError(kv::platform::sync::NamedObjectError(error));
    return nullptr;
  }
  return static_cast<std::atomic<uint32_t>*>(p);
}

HANDLE MakeEvent(BOOL manualReset, BOOL initialState, LPCSTR name, bool create) {
  auto event = std::make_shared<EventObject>();
  event->manualReset = manualReset != FALSE;
  bool existed = false;
  if (name && *name) {
    event->hold = ObjectHold::Acquire(
        "event", name,
        [&](ObjectHold& hold, bool fresh) {
          if (fresh && !create) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return false;
          }
          event->state = MapEventWord(hold, fresh);
          return event->state != nullptr;
        },
        &existed);
    if (!event->hold) return nullptr;
  }
  if (!existed && initialState) event->state->store(1);
  HANDLE h = kv::platform::RegisterHandle(event);
  if (h) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

}  // namespace

extern "C" HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  return MakeEvent(bManualReset, bInitialState, lpName, true);
}

extern "C" HANDLE WINAPI OpenEventA(DWORD, BOOL, LPCSTR lpName) {
  if (!lpName || !*lpName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return MakeEvent(TRUE, FALSE, lpName, false);
}

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent) {
  auto event = kv::platform::LookupHandle<EventObject>(hEvent);
  if (!event) return FALSE;
  event->state->store(1);
  return TRUE;
}

extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent) {
  auto event = kv::platform::LookupHandle<EventObject>(hEvent);
  if (!event) return FALSE;
  event->state->store(0);
  return TRUE;
}

extern "C" HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName) {
  auto mutex = std::make_shared<MutexObject>();
  bool existed = false;
  std::string name = lpName && *lpName ? lpName : "anonymous." + std::to_string(getpid()) + "." +
                                                        std::to_string(reinterpret_cast<uintptr_t>(mutex.get()));
  mutex->hold = ObjectHold::Acquire("mutex", name, [](ObjectHold&, bool) { return true; }, &existed);
  if (!mutex->hold) return nullptr;
  mutex->fd = mutex->hold->LockFd();
  HANDLE h = kv::platform::RegisterHandle(mutex);
  if (!h) return nullptr;
  if (bInitialOwner) WaitForSingleObject(h, INFINITE);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

extern "C" BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
  auto mutex = kv::platform::LookupHandle<MutexObject>(hMutex);
  if (!mutex) return FALSE;
  std::lock_guard<std::mutex> guard(mutex->guard);
  if (mutex->recursion == 0 || mutex->owner != std::this_thread::get_id()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--mutex->recursion == 0) {
    mutex->owner = std::thread::id();
    flock(mutex->fd, LOCK_UN);
  }
  return TRUE;
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(dwMilliseconds == INFINITE ? 0 : dwMilliseconds);
  auto expired = [&] { return dwMilliseconds != INFINITE && Clock::now() >= deadline; };

  if (auto event = std::static_pointer_cast<EventObject>(kv::platform::LookupHandle(hHandle, HandleKind::Event))) {
    for (;;) {
      uint32_t s = event->state->load();
      if (s & 1) {
        if (!event->manualReset && !event->state->compare_exchange_strong(s, 0)) continue;
        return WAIT_OBJECT_0;
      }
      if (expired()) return WAIT_TIMEOUT;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  if (auto mutex = std::static_pointer_cast<MutexObject>(kv::platform::LookupHandle(hHandle, HandleKind::Mutex))) {
    for (;;) {
      {
        std::lock_guard<std::mutex> guard(mutex->guard);
        if (mutex->recursion > 0 && mutex->owner == std::this_thread::get_id()) {
          ++mutex->recursion;
          return WAIT_OBJECT_0;
        }
        if (mutex->recursion == 0 && flock(mutex->fd, LOCK_EX | LOCK_NB) == 0) {
          mutex->owner = std::this_thread::get_id();
          mutex->recursion = 1;
          return WAIT_OBJECT_0;
        }
      }
      if (expired()) return WAIT_TIMEOUT;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}
