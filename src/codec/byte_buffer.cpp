// CByteBuffer storage: the allocation with its two zero guard bytes, exact
// growth on append, and the byte-order reversal.
#include "codec/byte_buffer.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {
constexpr int64_t kMaxSize = std::numeric_limits<int32_t>::max();
}  // namespace

CByteBuffer::~CByteBuffer() { std::free(data_); }

BYTE* CByteBuffer::AllocateStorage(int32_t size) {
  if (size < 0) return nullptr;
  return static_cast<BYTE*>(std::calloc(static_cast<size_t>(size) + 2, 1));
}

BYTE* CByteBuffer::AllocateForOverwrite(int64_t size) {
  if (size < 0 || size > kMaxSize) return nullptr;
  BYTE* storage = static_cast<BYTE*>(std::malloc(static_cast<size_t>(size) + 2));
  if (storage) {
    storage[size] = 0;
    storage[size + 1] = 0;
  }
  return storage;
}

BYTE* CByteBuffer::ShrinkStorage(BYTE* storage, int32_t size) {
  // Shrinking in place never fails in practice; if it does, the larger block
  // is still valid and only the guard bytes matter.
  void* smaller = std::realloc(storage, static_cast<size_t>(size) + 2);
  BYTE* result = smaller ? static_cast<BYTE*>(smaller) : storage;
  result[size] = 0;
  result[size + 1] = 0;
  return result;
}

void CByteBuffer::Adopt(BYTE* storage, int32_t size) {
  std::free(data_);
  if (!storage || size < 1) {
    std::free(storage);
    data_ = nullptr;
    size_ = 0;
    return;
  }
  data_ = storage;
  size_ = size;
}

void CByteBuffer::Clear() {
  std::free(data_);
  data_ = nullptr;
  size_ = 0;
}

bool CByteBuffer::Allocate(int32_t n) {
  Clear();
  if (n < 1) return false;
  BYTE* storage = AllocateStorage(n);
  if (!storage) return false;
  Adopt(storage, n);
  return true;
}

bool CByteBuffer::Append(const void* src, int32_t n) {
  if (!src || n <= 0) return false;
  if (static_cast<int64_t>(size_) + n > kMaxSize) return false;
  const int32_t newSize = size_ + n;
  BYTE* storage = AllocateForOverwrite(newSize);
  if (!storage) return false;
  // The old storage stays alive until both copies are done: src may point
  // into it.
  if (size_ > 0) std::memcpy(storage, data_, static_cast<size_t>(size_));
  std::memcpy(storage + size_, src, static_cast<size_t>(n));
  Adopt(storage, newSize);
  return true;
}

bool CByteBuffer::AppendString(const std::string& s) {
  if (s.size() > static_cast<size_t>(kMaxSize)) return false;
  return Append(s.data(), static_cast<int32_t>(s.size()));
}

bool CByteBuffer::AssignReversed(const void* src, int32_t n) {
  if (n < 1) {
    Clear();
    return false;
  }
  BYTE* storage = AllocateStorage(n);
  if (!storage) {
    Clear();
    return false;
  }
  const BYTE* in = static_cast<const BYTE*>(src);
  if (in) {
    for (int32_t i = 0; i < n; ++i) storage[i] = in[n - 1 - i];
  }
  Adopt(storage, n);
  return in != nullptr;
}
