// Named file mappings backed by POSIX shared memory, with the lifetime
// Windows gives a pagefile-backed section: it exists while at least one
// process holds a handle or a view, and the first process to create it after
// that starts from zeroed memory, also when an earlier holder crashed. The
// holding and the removal by the last holder are those of every named object
// (sync/object_hold.h); a view holds its section like a handle does.
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

#include "handles/handle_table.h"
#include "sync/named_objects.h"
#include "sync/object_hold.h"

namespace kv::platform::sync {
namespace {

// One handle's (or, after its handle closed, its views') hold on a section.
struct Section {
  std::unique_ptr<ObjectHold> hold;
  int shmFd = -1;
  uint64_t size = 0;
  ~Section() {
    if (shmFd >= 0) close(shmFd);
  }
};

// Guards the views of this process.
std::mutex g_lock;

struct View {
  std::shared_ptr<Section> section;
  size_t length;
};
std::map<const void*, View>& Views() {
  static auto* views = new std::map<const void*, View>;
  return *views;
}

class FileMappingObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::FileMapping;
  explicit FileMappingObject(std::shared_ptr<Section> s) : HandleObject(kKind), section(std::move(s)) {}
  std::shared_ptr<Section> section;
};

// Opens (create = false) or creates-or-opens the section `name`.
std::shared_ptr<Section> Acquire(const std::string& name, bool create, uint64_t size, bool* existed) {
  auto section = std::make_shared<Section>();
  section->hold = ObjectHold::Acquire(
      "section", name,
      [&](ObjectHold& hold, bool fresh) {
        if (fresh) {
          if (!create) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return false;
          }
          // Whatever is left under the name is a dead holder's: start anew.
          shm_unlink(hold.ShmName().c_str());
          section->shmFd = shm_open(hold.ShmName().c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
          if (section->shmFd < 0 || ftruncate(section->shmFd, static_cast<off_t>(size)) != 0) {
            SetLastError(NamedObjectError(errno));
            return false;
          }
          section->size = size;
          return true;
        }
        section->shmFd = shm_open(hold.ShmName().c_str(), O_RDWR | O_CLOEXEC, 0600);
        struct stat st;
        if (section->shmFd < 0 || fstat(section->shmFd, &st) != 0) {
          SetLastError(NamedObjectError(errno));
          return false;
        }
        section->size = static_cast<uint64_t>(st.st_size);
        return true;
      },
      existed);
  return section->hold ? section : nullptr;
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
  std::shared_ptr<kv::platform::sync::Section> hold;
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
  uint64_t size = mapping->section->size;
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
  void* p = mmap(nullptr, length, prot, flags, mapping->section->shmFd, static_cast<off_t>(offset));
  if (p == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(kv::platform::sync::g_lock);
  kv::platform::sync::Views()[p] = kv::platform::sync::View{mapping->section, length};
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

extern "C" SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength) {
  if (!lpBuffer || dwLength < sizeof(MEMORY_BASIC_INFORMATION)) {
    SetLastError(ERROR_BAD_LENGTH);
    return 0;
  }
  // Only the views of file mappings are known here.
  std::lock_guard<std::mutex> guard(kv::platform::sync::g_lock);
  auto& views = kv::platform::sync::Views();
  auto it = views.upper_bound(lpAddress);
  if (it == views.begin()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  --it;
  const auto* base = static_cast<const BYTE*>(it->first);
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t mapped = (it->second.length + page - 1) / page * page;
  const auto* address = static_cast<const BYTE*>(lpAddress);
  if (address >= base + mapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t pageStart = static_cast<size_t>(address - base) / page * page;
  *lpBuffer = MEMORY_BASIC_INFORMATION{};
  lpBuffer->BaseAddress = const_cast<BYTE*>(base + pageStart);
  lpBuffer->AllocationBase = const_cast<BYTE*>(base);
  lpBuffer->AllocationProtect = PAGE_READWRITE;
  lpBuffer->RegionSize = mapped - pageStart;
  lpBuffer->State = MEM_COMMIT;
  lpBuffer->Protect = PAGE_READWRITE;
  lpBuffer->Type = MEM_MAPPED;
  return sizeof(MEMORY_BASIC_INFORMATION);
}
