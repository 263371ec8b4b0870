// Named file mappings backed by POSIX shared memory, with the lifetime
// Windows gives a pagefile-backed section: it exists while at least one
// process holds a handle or a view, and the first process to create it after
// that starts from zeroed memory, also when an earlier holder crashed.
//
// Holding is a shared fcntl lock on byte 0 of the name's lock file; the
// creator decides under an exclusive lock on byte 1 whether any other process
// still holds byte 0. fcntl locks vanish with their process, so a crash
// cannot leave stale content alive. Within one process the holds of one name
// are counted in memory (fcntl does not report a process its own locks).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

#include "kernel/handle_table.h"
#include "sync/named_objects.h"

namespace kv::platform::sync {
namespace {

bool LockByte(int fd, short type, off_t byte, bool wait) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  while (fcntl(fd, wait ? F_SETLKW : F_SETLK, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool OtherProcessHolds(int fd) {
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  if (fcntl(fd, F_GETLK, &fl) != 0) return true;  // cannot tell: do not wipe
  return fl.l_type != F_UNLCK;
}

// Guards the holds and views of this process. A hold is only ever destroyed
// outside it (the destructor takes it), so closing a lock file cannot race a
// new hold of the same name, whose fcntl lock the close would also drop.
std::mutex g_lock;

// This process's hold on one named section.
struct SectionHold {
  std::string name;
  std::string shmName;
  int lockFd = -1;
  int shmFd = -1;
  uint64_t size = 0;
  ~SectionHold() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (shmFd >= 0) close(shmFd);
    if (lockFd >= 0) close(lockFd);  // releases the shared lock
  }
};
std::map<std::string, std::weak_ptr<SectionHold>>& Holds() {
  static auto* holds = new std::map<std::string, std::weak_ptr<SectionHold>>;
  return *holds;
}

struct View {
  std::shared_ptr<SectionHold> hold;
  size_t length;
};
std::map<const void*, View>& Views() {
  static auto* views = new std::map<const void*, View>;
  return *views;
}

class FileMappingObject : public KernelObject {
 public:
  static constexpr HandleKind kKind = HandleKind::FileMapping;
  explicit FileMappingObject(std::shared_ptr<SectionHold> h) : KernelObject(kKind), hold(std::move(h)) {}
  std::shared_ptr<SectionHold> hold;
};

DWORD ErrnoToWin32(int e) {
  switch (e) {
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOMEM:
    case ENOSPC: return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    default: return ERROR_INVALID_PARAMETER;
  }
}

// Opens (create = false) or creates-or-opens the section `name`.
std::shared_ptr<SectionHold> Acquire(const std::string& name, bool create, uint64_t size, bool* existed) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (auto held = Holds()[name].lock()) {
    *existed = true;
    return held;
  }
  std::string folder = LockFolder();
  if (folder.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  auto hold = std::make_shared<SectionHold>();
  hold->name = name;
  hold->shmName = ShmName("section", name);
  std::string lockPath = folder + "/section." + ObjectId(name) + ".lock";
  hold->lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (hold->lockFd < 0) {
    SetLastError(ErrnoToWin32(errno));
    return nullptr;
  }
  LockByte(hold->lockFd, F_WRLCK, 1, true);
  bool fresh = !OtherProcessHolds(hold->lockFd);
  bool ok = true;
  if (fresh) {
    if (!create) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      ok = false;
    } else {
      shm_unlink(hold->shmName.c_str());
      hold->shmFd = shm_open(hold->shmName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (hold->shmFd < 0 || ftruncate(hold->shmFd, static_cast<off_t>(size)) != 0) {
        SetLastError(ErrnoToWin32(errno));
        ok = false;
      }
      hold->size = size;
    }
  } else {
    hold->shmFd = shm_open(hold->shmName.c_str(), O_RDWR | O_CLOEXEC, 0600);
    struct stat st;
    if (hold->shmFd < 0 || fstat(hold->shmFd, &st) != 0) {
      SetLastError(ErrnoToWin32(errno));
      ok = false;
    } else {
      hold->size = static_cast<uint64_t>(st.st_size);
    }
  }
  if (ok) ok = LockByte(hold->lockFd, F_RDLCK, 0, true);
  LockByte(hold->lockFd, F_UNLCK, 1, false);
  if (!ok) return nullptr;
  *existed = !fresh;
  Holds()[name] = hold;
  return hold;
}

}  // namespace
}  // namespace kv::platform::sync

using kv::platform::sync::FileMappingObject;

extern "C" HANDLE WINAPI CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD flProtect,
                                            DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCSTR lpName) {
  uint64_t size = (uint64_t(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
  if (hFile != INVALID_HANDLE_VALUE || (flProtect & 0xFF) != PAGE_READWRITE) {
    // Only sections backed by the paging file are served.
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string name = lpName ? lpName : "";
  if (name.empty()) {
    // An unnamed section is private to its handles: a unique internal name.
    static std::atomic<uint64_t> counter{0};
    name = "anonymous." + std::to_string(getpid()) + "." + std::to_string(++counter);
  }
  bool existed = false;
  std::shared_ptr<kv::platform::sync::SectionHold> hold;
  if (size == 0) {
    // Windows needs a size to create; opening an existing one works without.
    hold = kv::platform::sync::Acquire(name, false, 0, &existed);
    if (!hold) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
  } else {
    hold = kv::platform::sync::Acquire(name, true, size, &existed);
    if (!hold) return nullptr;
  }
  HANDLE h = kv::platform::RegisterHandle(std::make_shared<FileMappingObject>(hold));
  if (!h) return nullptr;
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

extern "C" HANDLE WINAPI OpenFileMappingA(DWORD, BOOL, LPCSTR lpName) {
  if (!lpName || !*lpName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool existed = false;
  auto hold = kv::platform::sync::Acquire(lpName, false, 0, &existed);
  if (!hold) return nullptr;
  return kv::platform::RegisterHandle(std::make_shared<FileMappingObject>(hold));
}

extern "C" LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                                       DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  auto mapping = kv::platform::LookupHandle<FileMappingObject>(hFileMappingObject);
  if (!mapping) return nullptr;
  uint64_t offset = (uint64_t(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
  uint64_t size = mapping->hold->size;
  if (offset % 65536 != 0 || offset > size || (dwNumberOfBytesToMap && offset + dwNumberOfBytesToMap > size)) {
    SetLastError(offset % 65536 ? ERROR_MAPPED_ALIGNMENT : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  size_t length = dwNumberOfBytesToMap ? dwNumberOfBytesToMap : static_cast<size_t>(size - offset);
  if (length == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  int prot = PROT_READ;
  if (dwDesiredAccess & (FILE_MAP_WRITE | FILE_MAP_COPY)) prot |= PROT_WRITE;
  int flags = (dwDesiredAccess & FILE_MAP_COPY) && !(dwDesiredAccess & FILE_MAP_WRITE) ? MAP_PRIVATE : MAP_SHARED;
  void* p = mmap(nullptr, length, prot, flags, mapping->hold->shmFd, static_cast<off_t>(offset));
  if (p == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(kv::platform::sync::g_lock);
  kv::platform::sync::Views()[p] = kv::platform::sync::View{mapping->hold, length};
  return p;
}

extern "C" BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress) {
  kv::platform::sync::View view;
  {
    std::lock_guard<std::mutex> guard(kv::platform::sync::g_lock);
    auto& views = kv::platform::sync::Views();
    auto it = views.find(lpBaseAddress);
    if (it == views.end()) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    view = it->second;
    views.erase(it);
  }
  munmap(const_cast<void*>(lpBaseAddress), view.length);
  return TRUE;
}
