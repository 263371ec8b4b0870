// ANSI-code-page file names to POSIX paths.
#include "kernel/posix_path.h"

#include <cstring>
#include <vector>

namespace kv::platform {
namespace {

bool IsAscii(const char* s, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
  return true;
}

// Re-encodes `n` bytes from one code page to another through UTF-16; the
// Windows error is left set on failure.
bool Recode(UINT from, UINT to, const char* s, size_t n, std::string* out) {
  out->clear();
  if (n == 0) return true;
  if (n > 0x7FFFFFFF) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  int len = static_cast<int>(n);
  int wide = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, s, len, nullptr, 0);
  if (wide <= 0) return false;
  std::vector<WCHAR> buffer(static_cast<size_t>(wide));
  if (MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, s, len, buffer.data(), wide) != wide) return false;
  // A character the target code page lacks would silently become '?' and
  // name another file: refuse it instead.
  BOOL usedDefault = FALSE;
  LPBOOL probe = to == CP_UTF8 ? nullptr : &usedDefault;
  int bytes = WideCharToMultiByte(to, 0, buffer.data(), wide, nullptr, 0, nullptr, probe);
  if (bytes <= 0) return false;
  if (usedDefault) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  out->resize(static_cast<size_t>(bytes));
  return WideCharToMultiByte(to, 0, buffer.data(), wide, &(*out)[0], bytes, nullptr, nullptr) == bytes;
}

}  // namespace

bool ToPosixPath(LPCSTR name, std::string* out) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  size_t n = std::strlen(name);
  if (n == 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  UINT acp = GetACP();
  if (acp == CP_UTF8 || IsAscii(name, n)) {
    out->assign(name, n);
  } else if (!Recode(CP_ACP, CP_UTF8, name, n, out)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  for (char& c : *out) {
    switch (c) {
      case '\\': c = '/'; break;
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        SetLastError(ERROR_INVALID_NAME);
        return false;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          SetLastError(ERROR_INVALID_NAME);
          return false;
        }
    }
  }
  return true;
}

bool Utf8ToAnsi(const std::string& utf8, std::string* out) {
  if (GetACP() == CP_UTF8 || IsAscii(utf8.data(), utf8.size())) {
    *out = utf8;
    return true;
  }
  if (!Recode(CP_UTF8, CP_ACP, utf8.data(), utf8.size(), out)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  return true;
}

}  // namespace kv::platform
