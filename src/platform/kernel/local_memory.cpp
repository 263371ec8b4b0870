// LocalAlloc and LocalFree. The stand-in keeps a record of the blocks it has
// handed out, so freeing an unknown pointer or freeing twice is refused
// (the handle comes back, with ERROR_INVALID_HANDLE) instead of corrupting
// the heap.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

struct Blocks {
  std::mutex lock;
  std::unordered_map<void*, SIZE_T> sizes;
};

Blocks& TheBlocks() {
  static Blocks* blocks = new Blocks;
  return *blocks;
}

}  // namespace

extern "C" HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  if (uFlags & ~static_cast<UINT>(LMEM_MOVEABLE | LMEM_ZEROINIT | LMEM_NOCOMPACT | LMEM_NODISCARD)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Moveable blocks never move here: the handle is the block's address.
  void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1) : std::malloc(uBytes ? uBytes : 1);
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Blocks& b = TheBlocks();
  std::lock_guard<std::mutex> guard(b.lock);
  b.sizes[block] = uBytes;
  return block;
}

extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  if (!hMem) return nullptr;
  Blocks& b = TheBlocks();
  {
    std::lock_guard<std::mutex> guard(b.lock);
    auto it = b.sizes.find(hMem);
    if (it == b.sizes.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return hMem;
    }
    b.sizes.erase(it);
  }
  std::free(hMem);
  return nullptr;
}

extern "C" SIZE_T WINAPI LocalSize(HLOCAL hMem) {
  Blocks& b = TheBlocks();
  std::lock_guard<std::mutex> guard(b.lock);
  auto it = b.sizes.find(hMem);
  if (it == b.sizes.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return it->second;
}

extern "C" LPVOID WINAPI LocalLock(HLOCAL hMem) {
  Blocks& b = TheBlocks();
  std::lock_guard<std::mutex> guard(b.lock);
  if (!b.sizes.count(hMem)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return hMem;
}

extern "C" BOOL WINAPI LocalUnlock(HLOCAL) {
  // Fixed blocks have no lock count: Windows answers FALSE with no error.
  SetLastError(NO_ERROR);
  return FALSE;
}
