// File handles: CreateFileA, ReadFile, WriteFile, the size and position calls
// and the share-mode bookkeeping between handles of this process. Offsets are
// 64-bit throughout, so files beyond 4 GiB work.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <list>
#include <mutex>

#include "kernel/file_object.h"
#include "kernel/posix_error.h"
#include "kernel/posix_path.h"

namespace kv::platform {

namespace {

constexpr DWORD kReadRights = FILE_READ_DATA | FILE_EXECUTE;
constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA;
// The most one read() or write() moves on Linux.
constexpr size_t kMaxTransfer = 0x7FFFF000;

}  // namespace

// Every file object alive in the process, for the share checks.
class OpenFiles {
 public:
  static std::shared_ptr<FileObject> Admit(int fd, const struct stat& st, DWORD access, DWORD share,
                                           const std::string& path, bool deleteOnClose) {
    std::lock_guard<std::mutex> guard(Lock());
    for (const FileObject* f : List()) {
      if (f->dev_ != st.st_dev || f->ino_ != st.st_ino) continue;
      if (Conflict(access, f->share_) || Conflict(f->access_, share)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return nullptr;
      }
    }
    auto file = std::make_shared<FileObject>(fd, st.st_dev, st.st_ino, access, share, path, deleteOnClose);
    List().push_back(file.get());
    return file;
  }

  static void Forget(const FileObject* file) {
    std::lock_guard<std::mutex> guard(Lock());
    List().remove(file);
  }

  static bool LacksDeleteSharing(dev_t dev, ino_t ino) {
    std::lock_guard<std::mutex> guard(Lock());
    for (const FileObject* f : List())
      if (f->dev_ == dev && f->ino_ == ino && !(f->share_ & FILE_SHARE_DELETE)) return true;
    return false;
  }

 private:
  // True when rights `access` may not be taken while a handle allows only `share`.
  static bool Conflict(DWORD access, DWORD share) {
    return ((access & kReadRights) && !(share & FILE_SHARE_READ)) ||
           ((access & kWriteRights) && !(share & FILE_SHARE_WRITE)) ||
           ((access & DELETE) && !(share & FILE_SHARE_DELETE));
  }
  static std::mutex& Lock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
  }
  static std::list<const FileObject*>& List() {
    static auto* list = new std::list<const FileObject*>;
    return *list;
  }
};

FileObject::FileObject(int fd, dev_t dev, ino_t ino, DWORD access, DWORD share, std::string path,
                       bool deleteOnClose)
    : HandleObject(kKind),
      fd_(fd),
      dev_(dev),
      ino_(ino),
      access_(access),
      share_(share),
      path_(std::move(path)),
      deleteOnClose_(deleteOnClose) {}

FileObject::~FileObject() {
  OpenFiles::Forget(this);
  if (deleteOnClose_) unlink(path_.c_str());
  close(fd_);
}

bool FileObject::canRead() const { return (access_ & FILE_READ_DATA) != 0; }
bool FileObject::canWrite() const { return (access_ & kWriteRights) != 0; }
bool FileObject::appendOnly() const { return (access_ & FILE_APPEND_DATA) && !(access_ & FILE_WRITE_DATA); }

DWORD MapFileAccess(DWORD access) {
  DWORD mapped = access & ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (access & (GENERIC_READ | GENERIC_ALL)) mapped |= FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA;
  if (access & (GENERIC_WRITE | GENERIC_ALL))
    mapped |= FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA;
  if (access & (GENERIC_EXECUTE | GENERIC_ALL)) mapped |= FILE_EXECUTE | FILE_READ_ATTRIBUTES;
  if (access & GENERIC_ALL) mapped |= DELETE;
  return mapped;
}

bool OpenWithoutDeleteSharing(const std::string& posixPath) {
  struct stat st;
  if (stat(posixPath.c_str(), &st) != 0) return false;
  return OpenFiles::LacksDeleteSharing(st.st_dev, st.st_ino);
}

}  // namespace kv::platform

using kv::platform::FileObject;
using kv::platform::LookupHandle;

namespace {

// Opens the path the way `disposition` asks and says whether the file was
// there before. Truncation is left to the caller, after the share check.
int OpenForDisposition(const std::string& path, int flags, DWORD disposition, mode_t mode, bool* existed) {
  *existed = true;
  switch (disposition) {
    case CREATE_NEW:
      *existed = false;
      return open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
      return open(path.c_str(), flags);
    default:  // CREATE_ALWAYS, OPEN_ALWAYS
      for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
        if (fd >= 0 || errno != EEXIST) {
          *existed = false;
          return fd;
        }
        fd = open(path.c_str(), flags);
        if (fd >= 0 || errno != ENOENT) return fd;
        // Removed between the two opens: try again.
      }
      errno = EEXIST;
      return -1;
  }
}

}  // namespace

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE) {
  std::string path;
  if (!kv::platform::ToPosixPath(lpFileName, &path)) return INVALID_HANDLE_VALUE;
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
      (dwShareMode & ~static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  DWORD access = kv::platform::MapFileAccess(dwDesiredAccess);
  bool wantsRead = (access & FILE_READ_DATA) != 0;
  bool wantsWrite = (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
  if (dwCreationDisposition == TRUNCATE_EXISTING && !(access & FILE_WRITE_DATA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // Without any data right the handle still reads attributes and the size.
  // O_NONBLOCK: opening a FIFO must not wait for a writer; the type check
  // below then refuses it.
  int flags = O_CLOEXEC | O_NONBLOCK | (wantsWrite ? (wantsRead ? O_RDWR : O_WRONLY) : O_RDONLY);
  bool appendOnly = (access & FILE_APPEND_DATA) && !(access & FILE_WRITE_DATA);
  if (appendOnly) flags |= O_APPEND;
  if (dwFlagsAndAttributes & FILE_FLAG_WRITE_THROUGH) flags |= O_DSYNC;
  // New files belong to the owner alone; a read-only attribute drops the write bit.
  mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0400 : 0600;

  bool existed = false;
  int fd = OpenForDisposition(path, flags, dwCreationDisposition, mode, &existed);
  if (fd < 0) {
    int err = errno;
    DWORD code = err == EEXIST ? static_cast<DWORD>(ERROR_FILE_EXISTS) : kv::platform::PathErrorFromErrno(err, path);
    // ENXIO: a FIFO opened for writing with no reader, or a device without
    // its driver; neither is a file.
    if (err == ENXIO) code = ERROR_NOT_SUPPORTED;
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int err = errno;
    close(fd);
    kv::platform::SetLastErrorFromErrno(err);
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISDIR(st.st_mode) && !(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // Only regular files (links followed) and folders are files here: a FIFO
  // would block the reader forever and a device such as /dev/zero never ends.
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    close(fd);
    if (!existed) unlink(path.c_str());
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  int blocking = fcntl(fd, F_GETFL);
  if (blocking >= 0) fcntl(fd, F_SETFL, blocking & ~O_NONBLOCK);
  // A file without the owner's write bit is read-only in Windows terms, and
  // Windows refuses to write it even to an administrator.
  if (existed && wantsWrite && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  bool deleteOnClose = (dwFlagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
  auto file = kv::platform::OpenFiles::Admit(fd, st, access, dwShareMode, path, deleteOnClose);
  if (!file) {
    close(fd);
    if (!existed) unlink(path.c_str());
    return INVALID_HANDLE_VALUE;
  }
  bool truncate = existed && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING);
  if (truncate && ftruncate(fd, 0) != 0) {
    kv::platform::SetLastErrorFromErrno(errno);
    return INVALID_HANDLE_VALUE;  // `file` closes the descriptor
  }
  HANDLE handle = kv::platform::RegisterHandle(file);
  if (!handle) return INVALID_HANDLE_VALUE;
  // Windows reports an existing file that CREATE_ALWAYS or OPEN_ALWAYS opened
  // through the last error of a successful call.
  bool reportsExisting = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
  SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  auto file = LookupHandle<FileObject>(hFile);
  if (!file) return FALSE;
  if (!lpNumberOfBytesRead && !lpOverlapped) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (!lpBuffer && nNumberOfBytesToRead) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  if (!file->canRead()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  auto* out = static_cast<char*>(lpBuffer);
  off_t offset = lpOverlapped ? static_cast<off_t>((static_cast<uint64_t>(lpOverlapped->OffsetHigh) << 32) |
                                                   lpOverlapped->Offset)
                              : -1;
  size_t done = 0;
  while (done < nNumberOfBytesToRead) {
    size_t want = std::min<size_t>(nNumberOfBytesToRead - done, kv::platform::kMaxTransfer);
    ssize_t got = offset >= 0 ? pread(file->fd(), out + done, want, offset + static_cast<off_t>(done))
                              : read(file->fd(), out + done, want);
    if (got < 0) {
      if (errno == EINTR) continue;
      kv::platform::SetLastErrorFromErrno(errno);
      if (lpNumberOfBytesRead) *lpNumberOfBytesRead = static_cast<DWORD>(done);
      return FALSE;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = static_cast<DWORD>(done);
  if (lpOverlapped) {
    lpOverlapped->Internal = 0;
    lpOverlapped->InternalHigh = done;
    // A positioned read on a synchronous handle moves the file pointer too.
    lseek(file->fd(), offset + static_cast<off_t>(done), SEEK_SET);
    if (done == 0 && nNumberOfBytesToRead) {
      SetLastError(ERROR_HANDLE_EOF);
      return FALSE;
    }
  }
  return TRUE;
}

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  auto file = LookupHandle<FileObject>(hFile);
  if (!file) return FALSE;
  if (!lpNumberOfBytesWritten && !lpOverlapped) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (!lpBuffer && nNumberOfBytesToWrite) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  if (!file->canWrite()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const auto* in = static_cast<const char*>(lpBuffer);
  off_t offset = -1;
  if (lpOverlapped && !file->appendOnly())
    offset = static_cast<off_t>((static_cast<uint64_t>(lpOverlapped->OffsetHigh) << 32) | lpOverlapped->Offset);
  size_t done = 0;
  while (done < nNumberOfBytesToWrite) {
    size_t want = std::min<size_t>(nNumberOfBytesToWrite - done, kv::platform::kMaxTransfer);
    ssize_t put = offset >= 0 ? pwrite(file->fd(), in + done, want, offset + static_cast<off_t>(done))
                              : write(file->fd(), in + done, want);
    if (put < 0) {
      if (errno == EINTR) continue;
      kv::platform::SetLastErrorFromErrno(errno);
      if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = static_cast<DWORD>(done);
      return FALSE;
    }
    done += static_cast<size_t>(put);
  }
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = static_cast<DWORD>(done);
  if (lpOverlapped) {
    lpOverlapped->Internal = 0;
    lpOverlapped->InternalHigh = done;
    if (offset >= 0) lseek(file->fd(), offset + static_cast<off_t>(done), SEEK_SET);
  }
  return TRUE;
}

namespace {

bool FileSize(HANDLE hFile, int64_t* size) {
  auto file = LookupHandle<FileObject>(hFile);
  if (!file) return false;
  struct stat st;
  if (fstat(file->fd(), &st) != 0) {
    kv::platform::SetLastErrorFromErrno(errno);
    return false;
  }
  *size = static_cast<int64_t>(st.st_size);
  return true;
}

// The one seek behind SetFilePointer and SetFilePointerEx.
bool Seek(HANDLE hFile, int64_t distance, DWORD method, int64_t* position, bool mustFit32) {
  auto file = LookupHandle<FileObject>(hFile);
  if (!file) return false;
  int64_t base;
  switch (method) {
    case FILE_BEGIN: base = 0; break;
    case FILE_CURRENT: base = lseek(file->fd(), 0, SEEK_CUR); break;
    case FILE_END: {
      struct stat st;
      base = fstat(file->fd(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
      break;
    }
    default: SetLastError(ERROR_INVALID_PARAMETER); return false;
  }
  if (base < 0) {
    kv::platform::SetLastErrorFromErrno(errno);
    return false;
  }
  if ((distance > 0 && base > INT64_MAX - distance) || base + distance < 0) {
    SetLastError(distance < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
    return false;
  }
  int64_t target = base + distance;
  if (mustFit32 && target > 0xFFFFFFFELL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (lseek(file->fd(), static_cast<off_t>(target), SEEK_SET) < 0) {
    kv::platform::SetLastErrorFromErrno(errno);
    return false;
  }
  *position = target;
  return true;
}

}  // namespace

extern "C" DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  int64_t size;
  if (!FileSize(hFile, &size)) return INVALID_FILE_SIZE;
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size) >> 32);
  DWORD low = static_cast<DWORD>(size & 0xFFFFFFFF);
  // A real size whose low half looks like the failure value must read as success.
  if (low == INVALID_FILE_SIZE) SetLastError(NO_ERROR);
  return low;
}

extern "C" BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
  int64_t size;
  if (!FileSize(hFile, &size)) return FALSE;
  if (!lpFileSize) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  lpFileSize->QuadPart = size;
  return TRUE;
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                                       DWORD dwMoveMethod) {
  int64_t distance = lpDistanceToMoveHigh
                         ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
                                                static_cast<DWORD>(lDistanceToMove))
                         : static_cast<int64_t>(lDistanceToMove);
  int64_t position;
  if (!Seek(hFile, distance, dwMoveMethod, &position, lpDistanceToMoveHigh == nullptr))
    return INVALID_SET_FILE_POINTER;
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
  DWORD low = static_cast<DWORD>(position & 0xFFFFFFFF);
  if (low == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
  return low;
}

extern "C" BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                        PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod) {
  int64_t position;
  if (!Seek(hFile, liDistanceToMove.QuadPart, dwMoveMethod, &position, false)) return FALSE;
  if (lpNewFilePointer) lpNewFilePointer->QuadPart = position;
  return TRUE;
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  auto file = LookupHandle<FileObject>(hFile);
  if (!file) return FALSE;
  if (!file->canWrite()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  off_t here = lseek(file->fd(), 0, SEEK_CUR);
  if (here < 0 || ftruncate(file->fd(), here) != 0) {
    kv::platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

extern "C" BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  auto file = LookupHandle<FileObject>(hFile);
  if (!file) return FALSE;
  if (!file->canWrite()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (fsync(file->fd()) != 0) {
    kv::platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

// The name the file has now, links resolved, as the kernel knows it for the
// open descriptor; in the ANSI code page, with '/' as Linux writes it (the
// stand-in has no volumes, so there is no "\\?\C:" prefix to give).
extern "C" DWORD WINAPI GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath,
                                                  DWORD dwFlags) {
  auto file = LookupHandle<FileObject>(hFile);
  if (!file) return 0;
  if (dwFlags & ~static_cast<DWORD>(FILE_NAME_OPENED | VOLUME_NAME_GUID | VOLUME_NAME_NT | VOLUME_NAME_NONE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", file->fd());
  std::string target(PATH_MAX, '\0');
  ssize_t n = readlink(link, &target[0], target.size());
  if (n <= 0 || static_cast<size_t>(n) >= target.size()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  target.resize(static_cast<size_t>(n));
  std::string ansi;
  if (!kv::platform::Utf8ToAnsi(target, &ansi)) return 0;
  if (ansi.size() + 1 > cchFilePath || !lpszFilePath) return static_cast<DWORD>(ansi.size() + 1);
  std::copy(ansi.begin(), ansi.end(), lpszFilePath);
  lpszFilePath[ansi.size()] = '\0';
  return static_cast<DWORD>(ansi.size());
}
