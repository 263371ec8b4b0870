// Whole-file read and write of CByteBuffer through the Win32 file calls.
// Sizes are signed 32-bit counts, so files of 2 GiB or more are refused
// rather than truncated. Reads and writes loop until the whole count has
// moved: a file that shrinks while it is read, or a short write, is a failure,
// never zero-padded or truncated data reported as success.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "codec/byte_buffer.h"

namespace {

// Each call moves at most this much: well under DWORD and under what one
// read(2) moves on Linux.
constexpr DWORD kChunk = 1u << 30;

// Closes without disturbing the error of the call that failed before.
void CloseKeepingLastError(HANDLE file) {
  const DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
}

bool ReadAll(HANDLE file, BYTE* out, int32_t size) {
  int32_t done = 0;
  while (done < size) {
    const DWORD want = static_cast<DWORD>(size - done) < kChunk ? static_cast<DWORD>(size - done) : kChunk;
    DWORD got = 0;
    if (!ReadFile(file, out + done, want, &got, nullptr)) return false;
    if (got == 0) {
      SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    done += static_cast<int32_t>(got);
  }
  return true;
}

bool WriteAll(HANDLE file, const BYTE* in, int32_t size) {
  int32_t done = 0;
  while (done < size) {
    const DWORD want = static_cast<DWORD>(size - done) < kChunk ? static_cast<DWORD>(size - done) : kChunk;
    DWORD put = 0;
    if (!WriteFile(file, in + done, want, &put, nullptr)) return false;
    if (put == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += static_cast<int32_t>(put);
  }
  return true;
}

}  // namespace

bool CByteBuffer::LoadFromFile(const std::string& path) {
  Clear();
  if (path.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;

  LARGE_INTEGER length;
  if (!GetFileSizeEx(file, &length)) {
    CloseKeepingLastError(file);
    return false;
  }
  if (length.QuadPart <= 0 || length.QuadPart > std::numeric_limits<int32_t>::max()) {
    CloseHandle(file);
    SetLastError(length.QuadPart <= 0 ? ERROR_HANDLE_EOF : ERROR_FILE_TOO_LARGE);
    return false;
  }
  const int32_t size = static_cast<int32_t>(length.QuadPart);
  BYTE* storage = AllocateStorage(size);
  if (!storage) {
    CloseHandle(file);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (!ReadAll(file, storage, size)) {
    std::free(storage);
    CloseKeepingLastError(file);
    return false;
  }
  CloseHandle(file);
  Adopt(storage, size);
  return true;
}

bool CByteBuffer::SaveToFile(const std::string& path) const {
  if (path.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (data_ && size_ > 0 && !WriteAll(file, data_, size_)) {
    CloseKeepingLastError(file);
    return false;
  }
  // Closing is where a deferred write error can surface.
  return CloseHandle(file) != FALSE;
}

bool CByteBuffer::RemoveFile(const std::string& path) {
  if (path.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return DeleteFileA(path.c_str()) != FALSE;
}
