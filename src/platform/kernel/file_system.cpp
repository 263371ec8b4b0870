// Calls on names rather than handles: deleting, renaming, attributes,
// folders and the temporary folder.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "kernel/file_object.h"
#include "kernel/posix_error.h"
#include "kernel/posix_path.h"

using kv::platform::PathErrorFromErrno;
using kv::platform::ToPosixPath;

namespace {

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

bool FailFromErrno(int err, const std::string& path) { return Fail(PathErrorFromErrno(err, path)); }

// Windows will not remove or overwrite a read-only file.
bool IsReadOnlyFile(const struct stat& st) { return S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR); }

// Copies a regular file for a rename across file systems; the copy takes the
// source's permission bits.
bool CopyAcross(const std::string& from, const std::string& to, bool replace) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return FailFromErrno(errno, from);
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return Fail(ERROR_ACCESS_DENIED);
  }
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL), st.st_mode & 07777);
  if (out < 0) {
    int err = errno;
    close(in);
    return Fail(err == EEXIST ? static_cast<DWORD>(ERROR_ALREADY_EXISTS) : PathErrorFromErrno(err, to));
  }
  char buffer[65536];
  bool ok = true;
  int err = 0;
  for (;;) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) ok = false, err = errno;
      break;
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t put = write(out, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        ok = false, err = errno;
        break;
      }
      done += put;
    }
    if (!ok) break;
  }
  if (close(out) != 0 && ok) ok = false, err = errno;
  close(in);
  if (!ok) {
    unlink(to.c_str());
    return FailFromErrno(err, to);
  }
  return true;
}

}  // namespace

extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  std::string path;
  if (!ToPosixPath(lpFileName, &path)) return FALSE;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return FailFromErrno(errno, path);
  if (S_ISDIR(st.st_mode) || IsReadOnlyFile(st)) return Fail(ERROR_ACCESS_DENIED);
  if (kv::platform::OpenWithoutDeleteSharing(path)) return Fail(ERROR_SHARING_VIOLATION);
  if (unlink(path.c_str()) != 0) return FailFromErrno(errno, path);
  return TRUE;
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  std::string path;
  if (!ToPosixPath(lpFileName, &path)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    SetLastError(PathErrorFromErrno(errno, path));
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode))
    attributes = FILE_ATTRIBUTE_DIRECTORY;
  else if (S_ISREG(st.st_mode))
    attributes = FILE_ATTRIBUTE_ARCHIVE;
  else
    attributes = FILE_ATTRIBUTE_SYSTEM;  // devices, pipes, sockets
  if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  std::string path;
  if (!ToPosixPath(lpPathName, &path)) return FALSE;
  if (mkdir(path.c_str(), 0700) != 0) {
    int err = errno;
    if (err == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
    // The folder's own name cannot be missing: a missing name is its parent.
    if (err == ENOENT) return Fail(ERROR_PATH_NOT_FOUND);
    return FailFromErrno(err, path);
  }
  return TRUE;
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
  std::string path;
  if (!ToPosixPath(lpPathName, &path)) return FALSE;
  if (rmdir(path.c_str()) != 0) {
    int err = errno;
    if (err == ENOTDIR) {
      struct stat st;
      if (stat(path.c_str(), &st) == 0) return Fail(ERROR_DIRECTORY);
    }
    if (err == EEXIST) err = ENOTEMPTY;
    return FailFromErrno(err, path);
  }
  return TRUE;
}

// A rename is durable once the folder that holds the new name is on disk:
// only that folder is flushed, not every file system of the machine.
static void SyncFolderOf(const std::string& posixPath) {
  size_t slash = posixPath.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : posixPath.substr(0, slash);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  constexpr DWORD kKnown = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
  if (!lpNewFileName || (dwFlags & ~kKnown)) return Fail(ERROR_INVALID_PARAMETER);
  std::string from, to;
  if (!ToPosixPath(lpExistingFileName, &from) || !ToPosixPath(lpNewFileName, &to)) return FALSE;
  struct stat src;
  if (lstat(from.c_str(), &src) != 0) return FailFromErrno(errno, from);
  if (kv::platform::OpenWithoutDeleteSharing(from)) return Fail(ERROR_SHARING_VIOLATION);
  bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;
  struct stat dst;
  bool targetExists = lstat(to.c_str(), &dst) == 0;
  bool sameFile = targetExists && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino;
  if (targetExists && !sameFile) {
    if (!replace) return Fail(ERROR_ALREADY_EXISTS);
    // Windows replaces files only, never a folder, and never a read-only file.
    if (S_ISDIR(dst.st_mode) || S_ISDIR(src.st_mode) || IsReadOnlyFile(dst)) return Fail(ERROR_ACCESS_DENIED);
    if (kv::platform::OpenWithoutDeleteSharing(to)) return Fail(ERROR_SHARING_VIOLATION);
  }
  int rc;
  if (replace || sameFile) {
    rc = rename(from.c_str(), to.c_str());
  } else {
    // Refuse to overwrite atomically; file systems without the flag fall back
    // to the check made above.
    rc = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) rc = rename(from.c_str(), to.c_str());
  }
  if (rc != 0) {
    int err = errno;
    if (err == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
    if (err == EXDEV) {
      if (!(dwFlags & MOVEFILE_COPY_ALLOWED)) return Fail(ERROR_NOT_SAME_DEVICE);
      if (!CopyAcross(from, to, replace)) return FALSE;
      if (unlink(from.c_str()) != 0) return FailFromErrno(errno, from);
      return TRUE;
    }
    if (err == ENOENT) return FailFromErrno(err, to);
    return FailFromErrno(err, from);
  }
  if (dwFlags & MOVEFILE_WRITE_THROUGH) SyncFolderOf(to);
  return TRUE;
}

extern "C" BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  return MoveFileExA(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

extern "C" DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  const char* env = std::getenv("TMPDIR");
  std::string utf8 = env && *env ? env : "/tmp";
  while (utf8.size() > 1 && utf8.back() == '/') utf8.pop_back();
  if (utf8 != "/") utf8 += '/';
  std::string path;
  if (!kv::platform::Utf8ToAnsi(utf8, &path)) return 0;
  DWORD needed = static_cast<DWORD>(path.size() + 1);
  if (!lpBuffer || nBufferLength < needed) return needed;
  std::memcpy(lpBuffer, path.c_str(), needed);
  return needed - 1;
}

extern "C" UINT WINAPI GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique,
                                        LPSTR lpTempFileName) {
  if (!lpPathName || !lpTempFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string folder;
  if (!ToPosixPath(lpPathName, &folder)) return 0;
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return 0;
  }
  if (folder.back() != '/') folder += '/';
  std::string prefix;
  if (lpPrefixString && *lpPrefixString) {
    // Three characters of the prefix, whole characters of the code page.
    std::string full;
    if (!ToPosixPath(lpPrefixString, &full)) return 0;
    size_t taken = 0, chars = 0;
    while (taken < full.size() && chars < 3) {
      ++taken;
      while (taken < full.size() && (static_cast<unsigned char>(full[taken]) & 0xC0) == 0x80) ++taken;
      ++chars;
    }
    prefix = full.substr(0, taken);
    if (prefix.find('/') != std::string::npos) {
      SetLastError(ERROR_INVALID_NAME);
      return 0;
    }
  }
  UINT unique = uUnique & 0xFFFF;
  auto nameFor = [&](UINT n) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", n);
    return folder + prefix + hex + ".tmp";
  };
  std::string chosen;
  if (uUnique != 0) {
    // A caller-chosen number only forms the name; nothing is created.
    chosen = nameFor(unique);
  } else {
    std::random_device seed;
    UINT start = (seed() & 0xFFFF);
    if (start == 0) start = 1;
    UINT n = start;
    for (;;) {
      std::string candidate = nameFor(n);
      int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        close(fd);
        chosen = candidate;
        unique = n;
        break;
      }
      if (errno != EEXIST) {
        SetLastError(PathErrorFromErrno(errno, candidate));
        return 0;
      }
      n = (n & 0xFFFF) + 1;
      if (n > 0xFFFF) n = 1;
      if (n == start) {
        SetLastError(ERROR_FILE_EXISTS);
        return 0;
      }
    }
  }
  std::string ansi;
  if (!kv::platform::Utf8ToAnsi(chosen, &ansi)) {
    if (uUnique == 0) unlink(chosen.c_str());
    return 0;
  }
  if (ansi.size() >= MAX_PATH) {
    if (uUnique == 0) unlink(chosen.c_str());
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  std::memcpy(lpTempFileName, ansi.c_str(), ansi.size() + 1);
  return uUnique != 0 ? uUnique : unique;
}
