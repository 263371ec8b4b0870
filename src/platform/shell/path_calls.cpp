// The shell's path helpers, on the stand-in's file-name rules.
#include <shlwapi.h>

#include <sys/stat.h>

#include <cerrno>

#include "kernel/posix_error.h"
#include "kernel/posix_path.h"

extern "C" BOOL WINAPI PathFileExistsA(LPCSTR pszPath) {
  if (!pszPath) return FALSE;
  std::string path;
  if (!kv::platform::ToPosixPath(pszPath, &path)) return FALSE;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    SetLastError(kv::platform::PathErrorFromErrno(errno, path));
    return FALSE;
  }
  return TRUE;
}
