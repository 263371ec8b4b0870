// The stand-in's common dialogs: open-file, folder browser and message box,
// drawn by the active desktop (see desktop.h), with the result layouts and
// error reports of the Windows calls.
#include <commdlg.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "kvwin/desktop.h"

namespace kv::platform {
namespace {

thread_local DWORD g_commDlgError = 0;

// "desc\0pattern;pattern\0...\0\0" as the open-file dialog's filter.
std::vector<FileFilter> ParseFilter(LPCSTR filter) {
  std::vector<FileFilter> out;
  if (!filter) return out;
  const char* p = filter;
  while (*p) {
    FileFilter entry;
    entry.description = DesktopTextLenient(p);
    p += std::strlen(p) + 1;
    std::string patterns = p;
    if (*p) p += std::strlen(p) + 1;
    size_t start = 0;
    while (start <= patterns.size()) {
      size_t end = patterns.find(';', start);
      if (end == std::string::npos) end = patterns.size();
      std::string one = patterns.substr(start, end - start);
      size_t first = one.find_first_not_of(' ');
      size_t last = one.find_last_not_of(' ');
      if (first != std::string::npos) entry.patterns.push_back(one.substr(first, last - first + 1));
      start = end + 1;
    }
    out.push_back(entry);
  }
  return out;
}

// Offset of the file name part: after the last '\\' or '/' that is a
// character of its own.
size_t FileNameOffset(const std::string& path) {
  size_t offset = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    BYTE c = static_cast<BYTE>(path[i]);
    if (IsDBCSLeadByteEx(CP_ACP, c) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/') offset = i + 1;
  }
  return offset;
}

}  // namespace
}  // namespace kv::platform

using namespace kv::platform;

extern "C" DWORD WINAPI CommDlgExtendedError(void) { return g_commDlgError; }

extern "C" BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA ofn) {
  g_commDlgError = 0;
  if (!ofn || ofn->lStructSize != sizeof(OPENFILENAMEA)) {
    g_commDlgError = CDERR_STRUCTSIZE;
    return FALSE;
  }
  if (!ofn->lpstrFile || ofn->nMaxFile == 0) {
    g_commDlgError = FNERR_INVALIDFILENAME;
    return FALSE;
  }
  Desktop* desktop = ActiveDesktop();
  if (!desktop) {
    g_commDlgError = CDERR_DIALOGFAILURE;
    return FALSE;
  }
  OpenFileRequest request;
  request.owner = ofn->hwndOwner;
  if (ofn->lpstrTitle && !DesktopTextFromAnsi(ofn->lpstrTitle, &request.title)) request.title.clear();
  request.filters = ParseFilter(ofn->lpstrFilter);
  if (ofn->lpstrInitialDir && *ofn->lpstrInitialDir &&
      !DesktopPathFromAnsi(ofn->lpstrInitialDir, &request.initialFolder))
    request.initialFolder.clear();
  request.flags = ofn->Flags;

  std::string chosen;
  if (!desktop->OpenFile(request, &chosen)) return FALSE;  // cancelled: extended error 0
  std::string path;
  if (chosen.empty() || !AnsiFromDesktopText(chosen, &path)) {
    g_commDlgError = FNERR_INVALIDFILENAME;
    return FALSE;
  }
  if (path.size() + 1 > ofn->nMaxFile) {
    g_commDlgError = FNERR_BUFFERTOOSMALL;
    if (ofn->nMaxFile >= 2) {
      WORD needed = static_cast<WORD>(path.size() + 1 > 0xFFFF ? 0xFFFF : path.size() + 1);
      std::memcpy(ofn->lpstrFile, &needed, sizeof needed);
    }
    return FALSE;
  }
  std::memcpy(ofn->lpstrFile, path.c_str(), path.size() + 1);
  size_t nameOffset = FileNameOffset(path);
  size_t dot = path.find_last_of('.');
  ofn->nFileOffset = static_cast<WORD>(nameOffset);
  ofn->nFileExtension =
      static_cast<WORD>(dot != std::string::npos && dot >= nameOffset ? dot + 1 : path.size());
  if (ofn->lpstrFileTitle && ofn->nMaxFileTitle > 0) {
    std::string title = path.substr(nameOffset);
    size_t n = title.size() < ofn->nMaxFileTitle - 1 ? title.size() : ofn->nMaxFileTitle - 1;
    std::memcpy(ofn->lpstrFileTitle, title.data(), n);
    ofn->lpstrFileTitle[n] = '\0';
  }
  return TRUE;
}

// The item list of a chosen folder holds one item: the folder's ANSI path
// with its terminator, followed by the empty item that ends every list.
extern "C" PIDLIST_ABSOLUTE WINAPI SHBrowseForFolderA(LPBROWSEINFOA bi) {
  if (!bi) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Desktop* desktop = ActiveDesktop();
  if (!desktop) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  std::string title;
  if (bi->lpszTitle && !DesktopTextFromAnsi(bi->lpszTitle, &title)) title.clear();
  std::string chosen, path;
  if (!desktop->BrowseFolder(bi->hwndOwner, title, &chosen)) {
    SetLastError(ERROR_CANCELLED);
    return nullptr;
  }
  if (chosen.empty() || !AnsiFromDesktopText(chosen, &path)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return nullptr;
  }
  size_t itemSize = sizeof(USHORT) + path.size() + 1;
  if (itemSize > 0xFFFF) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  BYTE* list = static_cast<BYTE*>(CoTaskMemAlloc(itemSize + sizeof(USHORT)));
  if (!list) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  USHORT cb = static_cast<USHORT>(itemSize);
  std::memcpy(list, &cb, sizeof cb);
  std::memcpy(list + sizeof cb, path.c_str(), path.size() + 1);
  USHORT end = 0;
  std::memcpy(list + itemSize, &end, sizeof end);
  if (bi->pszDisplayName) {
    std::string name = path.substr(FileNameOffset(path));
    if (name.empty()) name = path;
    size_t n = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
    std::memcpy(bi->pszDisplayName, name.data(), n);
    bi->pszDisplayName[n] = '\0';
  }
  return reinterpret_cast<PIDLIST_ABSOLUTE>(list);
}

extern "C" BOOL WINAPI SHGetPathFromIDListA(PCIDLIST_ABSOLUTE pidl, LPSTR pszPath) {
  if (!pszPath) return FALSE;
  pszPath[0] = '\0';
  if (!pidl) return FALSE;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(pidl);
  USHORT cb;
  std::memcpy(&cb, bytes, sizeof cb);
  if (cb <= sizeof(USHORT) + 1) return FALSE;
  const char* path = reinterpret_cast<const char*>(bytes + sizeof cb);
  size_t length = strnlen(path, cb - sizeof cb);
  if (length + 1 > MAX_PATH || length == cb - sizeof cb) return FALSE;
  std::memcpy(pszPath, path, length + 1);
  return TRUE;
}

extern "C" LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }

extern "C" void WINAPI CoTaskMemFree(LPVOID pv) { std::free(pv); }

extern "C" int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  Desktop* desktop = ActiveDesktop();
  if (!desktop) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
  }
  std::string text = DesktopTextLenient(lpText ? lpText : "");
  std::string caption = DesktopTextLenient(lpCaption ? lpCaption : "Error");
  return desktop->ShowMessage(hWnd, text, caption, uType);
}
