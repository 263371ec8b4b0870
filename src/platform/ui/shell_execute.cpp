// ShellExecuteA for the "open" verb: the active desktop may show the
// document itself; otherwise the desktop's default handler (xdg-open) gets it.
#include <shellapi.h>
#include <windows.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kvwin/desktop.h"

#ifndef ERROR_NO_ASSOCIATION
#define ERROR_NO_ASSOCIATION 1155L
#endif

namespace {

HINSTANCE ShellResult(INT_PTR code) { return reinterpret_cast<HINSTANCE>(code); }

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Starts the viewer detached (the grandchild is reparented), so the caller
// neither waits for it nor leaves a zombie behind.
bool LaunchDetached(const std::string& document, const std::string& folder) {
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    pid_t grandchild = fork();
    if (grandchild == 0) {
      setsid();
      int null = open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        if (null > 2) close(null);
      }
      if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(127);
      execlp("xdg-open", "xdg-open", document.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    _exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

extern "C" HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                                          LPCSTR lpDirectory, INT nShowCmd) {
  (void)lpParameters;  // documents take no parameters
  (void)nShowCmd;
  if (lpOperation && *lpOperation && std::strcmp(lpOperation, "open") != 0) {
    SetLastError(ERROR_NO_ASSOCIATION);
    return ShellResult(SE_ERR_NOASSOC);
  }
  std::string document, folder;
  if (!lpFile || !*lpFile || !kv::platform::DesktopPathFromAnsi(lpFile, &document)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return ShellResult(SE_ERR_FNF);
  }
  if (lpDirectory && *lpDirectory && !kv::platform::DesktopPathFromAnsi(lpDirectory, &folder)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return ShellResult(SE_ERR_PNF);
  }
  if (!folder.empty() && document[0] != '/') document = folder + "/" + document;
  struct stat info;
  if (stat(document.c_str(), &info) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return ShellResult(SE_ERR_FNF);
  }
  if (kv::platform::Desktop* desktop = kv::platform::ActiveDesktop()) {
    bool opened = false;
    if (desktop->OpenDocument(hwnd, document, &opened)) {
      if (opened) return ShellResult(42);
      SetLastError(ERROR_NO_ASSOCIATION);
      return ShellResult(SE_ERR_NOASSOC);
    }
  }
  if (!OnPath("xdg-open") || !LaunchDetached(document, folder)) {
    SetLastError(ERROR_NO_ASSOCIATION);
    return ShellResult(SE_ERR_NOASSOC);
  }
  return ShellResult(42);
}
