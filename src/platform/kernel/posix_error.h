// Translation of POSIX errno values into the Win32 error numbers the same
// failure has on Windows, for every part of the stand-in that calls POSIX.
#pragma once

#include <windows.h>

#include <string>

namespace kv::platform {

// The Win32 error for `err`. ENOENT maps to ERROR_FILE_NOT_FOUND; callers
// that know a path use PathErrorFromErrno to tell a missing folder apart.
DWORD Win32ErrorFromErrno(int err);

// As above, but ENOENT (and ENOTDIR) becomes ERROR_PATH_NOT_FOUND when a
// folder on the way to `posixPath` is missing, as Windows reports it.
DWORD PathErrorFromErrno(int err, const std::string& posixPath);

// SetLastError(Win32ErrorFromErrno(err)).
void SetLastErrorFromErrno(int err);

}  // namespace kv::platform
