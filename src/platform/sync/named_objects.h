// Names of the stand-in's named kernel objects. Every name lives in a
// per-user namespace: POSIX shared-memory objects "/korvessa.<uid>.<kind>.<id>"
// with mode 0600, and lock files in a private folder (mode 0700), so another
// user can neither read nor reach a user's objects.
#pragma once

#include <windows.h>

#include <string>

namespace kv::platform::sync {

// A stable identifier for an object name: printable characters kept, the
// rest escaped, and a hash appended so long names stay within NAME_MAX.
std::string ObjectId(const std::string& name);

// "/korvessa.<uid>.<kind>.<id>", for shm_open.
std::string ShmName(const char* kind, const std::string& name);

// "/korvessa.<uid>.": the lock file "<kind>.<id>.lock" belongs to the
// memory object ShmPrefix() + "<kind>.<id>".
std::string ShmPrefix();

// The user's private folder for lock files, created on demand.
std::string LockFolder();

}  // namespace kv::platform::sync
