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
#include "codec/final_file_name.h"
#include "vocabulary/text.h"

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

namespace {

// The folder part of a file name, for the temporary file beside it: up to
// the last separator (a backslash that is a character of its own, or a
// slash, which is never a trail byte), "." when there is none.
std::string FolderOf(const std::string& path) {
  size_t backslash = kv::FindLastBackslash(path);
  size_t slash = path.rfind('/');
  size_t cut = backslash == std::string::npos ? slash
               : slash == std::string::npos   ? backslash
                                              : (backslash > slash ? backslash : slash);
  if (cut == std::string::npos) return ".";
  // A drive root (C:\) or the file system root keeps its separator.
  return path.substr(0, cut == 0 || (cut == 2 && path[1] == ':') ? cut + 1 : cut);
}

// Removes the temporary file of a failed replacement, keeping the failing
// call's error.
bool DiscardTemporary(const char* temporary) {
  const DWORD error = GetLastError();
  DeleteFileA(temporary);
  SetLastError(error);
  return false;
}

}  // namespace

bool CByteBuffer::SaveToFileAtomically(const std::string& path) const {
  if (path.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // Through a link to the file it names: the new content belongs there, and
  // the link stays a link.
  std::string target;
  if (!kv::FinalFileName(path, &target)) return false;
  char temporary[MAX_PATH + 1] = {};
  if (GetTempFileNameA(FolderOf(target).c_str(), "kvt", 0, temporary) == 0) return false;
  HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return DiscardTemporary(temporary);
  if ((data_ && size_ > 0 && !WriteAll(file, data_, size_)) || !FlushFileBuffers(file)) {
    CloseKeepingLastError(file);
    return DiscardTemporary(temporary);
  }
  if (!CloseHandle(file)) return DiscardTemporary(temporary);
  if (!MoveFileExA(temporary, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return DiscardTemporary(temporary);
  return true;
}

bool CByteBuffer::RemoveFile(const std::string& path) {
  if (path.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return DeleteFileA(path.c_str()) != FALSE;
}
