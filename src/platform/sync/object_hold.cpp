// Holds on named objects and the removal of objects nobody holds.
//
// The locks are open-file-description locks: unlike classic fcntl locks they
// belong to the descriptor's description rather than to the process, so every
// handle counts on its own, closing some other descriptor of the same file
// does not silently drop them, and the gate excludes threads of one process
// as well as other processes.
//
// A lock file is unlinked only under its gate with no hold left, so an opener
// that opened the old file just before checks, once it has the gate, that the
// path still names its file, and starts over with the new one if not.
#include "sync/object_hold.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

#include "kernel/posix_error.h"
#include "sync/named_objects.h"

namespace kv::platform::sync {
namespace {

constexpr off_t kHoldByte = 0;
constexpr off_t kGateByte = 1;

bool OfdLock(int fd, short type, off_t byte, bool wait) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  while (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// True when anything other than `fd`'s own description may still hold the
// object: a hold on byte 0, or (a mutex of an older build) an flock.
bool OthersHold(int fd) {
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kHoldByte;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;  // cannot tell: keep it
  if (fl.l_type != F_UNLCK) return true;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return true;
  flock(fd, LOCK_UN);
  return false;
}

// Whether `path` still names the file open as `fd`.
bool StillNamed(int fd, const std::string& path) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

// Under the gate, with no hold left: the object and its lock file go.
void RemoveObject(const std::string& lockPath, const std::string& shmName) {
  shm_unlink(shmName.c_str());
  unlink(lockPath.c_str());
}

// The holds of this process, for the fork handler. Guards nothing else.
std::mutex g_holdsLock;
std::set<ObjectHold*>& LiveHolds() {
  static auto* holds = new std::set<ObjectHold*>;
  return *holds;
}

// When this process last swept; zero: not yet.
std::chrono::steady_clock::time_point g_lastSweep;
constexpr std::chrono::seconds kSweepInterval{5};

// fork: the child shares the parent's lock descriptions, so one of them
// closing its handle could not tell the other still holds. The child takes a
// description of its own for every hold it inherits (without the parent's
// mutex ownership, which stays with the parent) before it runs on.
void PrepareFork() { g_holdsLock.lock(); }
void ParentAfterFork() { g_holdsLock.unlock(); }
void ChildAfterFork() {
  for (ObjectHold* hold : LiveHolds()) {
    const std::string self = "/proc/self/fd/" + std::to_string(hold->LockFd());
    int own = open(self.c_str(), O_RDWR | O_CLOEXEC);
    if (own < 0) continue;
    if (OfdLock(own, F_RDLCK, kHoldByte, true)) dup3(own, hold->LockFd(), O_CLOEXEC);
    close(own);
  }
  g_lastSweep = {};
  new (&g_holdsLock) std::mutex;
}
const bool g_forkHandlers = pthread_atfork(PrepareFork, ParentAfterFork, ChildAfterFork) == 0;

void SweepNowAndThen() {
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> guard(g_holdsLock);
    if (g_lastSweep != std::chrono::steady_clock::time_point{} && now - g_lastSweep < kSweepInterval) return;
    g_lastSweep = now;
  }
  SweepAbandonedObjects();
}

}  // namespace

DWORD NamedObjectError(int posixError) {
  // Objects live in memory: a full tmpfs is Windows' "not enough memory".
  if (posixError == ENOSPC || posixError == EDQUOT) return ERROR_NOT_ENOUGH_MEMORY;
  return Win32ErrorFromErrno(posixError);
}

std::unique_ptr<ObjectHold> ObjectHold::Acquire(const char* kind, const std::string& name, const Setup& setup,
                                                bool* existed) {
  (void)g_forkHandlers;
  const std::string folder = LockFolder();
  if (folder.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  SweepNowAndThen();
  std::unique_ptr<ObjectHold> hold(new ObjectHold);
  hold->lockPath_ = folder + "/" + std::string(kind) + "." + ObjectId(name) + ".lock";
  hold->shmName_ = sync::ShmName(kind, name);
  int fd = -1;
  for (;;) {
    fd = open(hold->lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      SetLastError(NamedObjectError(errno));
      return nullptr;
    }
    if (!OfdLock(fd, F_WRLCK, kGateByte, true)) {
      const int error = errno;
      close(fd);
      SetLastError(NamedObjectError(error));
      return nullptr;
    }
    if (StillNamed(fd, hold->lockPath_)) break;
    close(fd);  // its last holder removed it meanwhile: take the new one
  }
  hold->lockFd_ = fd;
  const bool fresh = !OthersHold(fd);
  bool ok = setup(*hold, fresh);
  if (ok && !OfdLock(fd, F_RDLCK, kHoldByte, true)) {
    SetLastError(NamedObjectError(errno));
    ok = false;
  }
  if (!ok) {
    const DWORD error = GetLastError();
    if (fresh) RemoveObject(hold->lockPath_, hold->shmName_);
    close(fd);
    hold->lockFd_ = -1;
    SetLastError(error);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> guard(g_holdsLock);
    LiveHolds().insert(hold.get());
  }
  OfdLock(fd, F_UNLCK, kGateByte, false);
  if (existed) *existed = !fresh;
  return hold;
}

ObjectHold::~ObjectHold() {
  if (lockFd_ < 0) return;
  {
    std::lock_guard<std::mutex> guard(g_holdsLock);
    LiveHolds().erase(this);
  }
  if (OfdLock(lockFd_, F_WRLCK, kGateByte, true) && !OthersHold(lockFd_)) RemoveObject(lockPath_, shmName_);
  close(lockFd_);
}

void SweepAbandonedObjects() {
  const std::string folder = LockFolder();
  if (folder.empty()) return;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  static const std::string kSuffix = ".lock";
  while (const dirent* entry = readdir(dir)) {
    const std::string file = entry->d_name;
    if (file.size() <= kSuffix.size() || file.compare(file.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
      continue;
    const std::string path = folder + "/" + file;
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    // Someone at the gate is deciding about this object already.
    if (OfdLock(fd, F_WRLCK, kGateByte, false) && StillNamed(fd, path) && !OthersHold(fd))
      RemoveObject(path, ShmPrefix() + file.substr(0, file.size() - kSuffix.size()));
    close(fd);
  }
  closedir(dir);
}

}  // namespace kv::platform::sync
