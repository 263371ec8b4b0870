// The lifetime Windows gives named kernel objects, for the stand-in's
// sections, events and mutexes: a named object exists while some process
// holds a handle to it, and when the last handle anywhere closes (or the last
// holding process dies) its shared-memory object and its lock file go.
//
// Each handle holds a shared open-file-description lock on byte 0 of the
// name's lock file. Whoever opens, creates or removes the object does so
// under an exclusive lock on byte 1 (the gate), and decides from whether any
// other description still holds byte 0. The kernel drops these locks with
// the last descriptor of their description, so a killed holder leaves no
// count behind that could keep its objects alive: the next close of the name
// removes them, and objects whose last holder died are swept when a process
// next opens a named object.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kv::platform::sync {

class ObjectHold {
 public:
  // Makes or finds the object behind a new hold; runs under the gate.
  // `fresh`: no other hold exists, so anything found under the name is a
  // leftover to be made anew. False with the thread's last error set when
  // the object cannot be had.
  using Setup = std::function<bool(ObjectHold& hold, bool fresh)>;

  // A new hold on the object `name` of `kind` ("section", "event", "mutex"),
  // or null with the thread's last error. `existed` (optional) tells whether
  // another hold already had it.
  static std::unique_ptr<ObjectHold> Acquire(const char* kind, const std::string& name, const Setup& setup,
                                             bool* existed);

  // Lets go; the last hold of all removes the object.
  ~ObjectHold();
  ObjectHold(const ObjectHold&) = delete;
  ObjectHold& operator=(const ObjectHold&) = delete;

  // The POSIX shared-memory name of the object ("/korvessa.<uid>.<kind>.<id>").
  const std::string& ShmName() const { return shmName_; }
  // The lock file's descriptor, private to this hold (a named mutex's
  // ownership is an flock on it).
  int LockFd() const { return lockFd_; }

 private:
  ObjectHold() = default;
  std::string lockPath_;
  std::string shmName_;
  int lockFd_ = -1;
};

// Removes the objects in the user's lock folder that no process holds any
// more. Opening a named object does this now and then by itself.
void SweepAbandonedObjects();

// Windows error for a failed POSIX call on a named object.
DWORD NamedObjectError(int posixError);

}  // namespace kv::platform::sync
