// Environment variables and the Windows folder. Values travel in the ANSI
// code page on the Windows side and in UTF-8 in the process environment.
#include <windows.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Lenient conversion, as Windows' ANSI calls convert the Unicode environment:
// what the target cannot express becomes its default character.
std::string Convert(UINT from, UINT to, const std::string& text) {
  if (text.empty() || GetACP() == CP_UTF8) return text;
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;
  if (ascii) return text;
  int len = static_cast<int>(text.size());
  int wide = MultiByteToWideChar(from, 0, text.data(), len, nullptr, 0);
  if (wide <= 0) return std::string();
  std::vector<WCHAR> buffer(static_cast<size_t>(wide));
  MultiByteToWideChar(from, 0, text.data(), len, buffer.data(), wide);
  int bytes = WideCharToMultiByte(to, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(to, 0, buffer.data(), wide, &out[0], bytes, nullptr, nullptr);
  return out;
}

bool EqualNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// The variable's UTF-8 value. Windows names are case-insensitive: an exact
// match wins, otherwise any spelling of the name.
bool Lookup(const std::string& name, std::string* value) {
  if (const char* exact = std::getenv(name.c_str())) {
    *value = exact;
    return true;
  }
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq && static_cast<size_t>(eq - *e) == name.size() && EqualNoCase(*e, name.c_str(), name.size())) {
      *value = eq + 1;
      return true;
    }
  }
  return false;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return std::string();
}

// Copies `text` out with the size rules of the Windows string getters: the
// length without terminator when it fits, otherwise the size needed with it.
DWORD CopyOut(const std::string& text, LPSTR buffer, DWORD size) {
  DWORD needed = static_cast<DWORD>(text.size() + 1);
  if (!buffer || size < needed) return needed;
  std::memcpy(buffer, text.c_str(), needed);
  return needed - 1;
}

}  // namespace

extern "C" DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  if (!lpName || !*lpName || std::strchr(lpName, '=')) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  std::string name = Convert(CP_ACP, CP_UTF8, lpName);
  std::string value;
  if (!Lookup(name, &value)) {
    // Linux has no USERPROFILE; its role is the home folder's.
    if (!EqualNoCase(name.c_str(), "USERPROFILE", 12) || (value = HomeFolder()).empty()) {
      SetLastError(ERROR_ENVVAR_NOT_FOUND);
      return 0;
    }
  }
  std::string ansi = Convert(CP_UTF8, CP_ACP, value);
  if (ansi.empty()) {
    // Set but empty: nothing to copy, and no error.
    if (lpBuffer && nSize) lpBuffer[0] = '\0';
    SetLastError(ERROR_SUCCESS);
    return 0;
  }
  return CopyOut(ansi, lpBuffer, nSize);
}

extern "C" BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
  if (!lpName || !*lpName || std::strchr(lpName, '=')) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string name = Convert(CP_ACP, CP_UTF8, lpName);
  int rc = lpValue ? setenv(name.c_str(), Convert(CP_ACP, CP_UTF8, lpValue).c_str(), 1) : unsetenv(name.c_str());
  if (rc != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return CopyOut("C:\\Windows", lpBuffer, uSize);
}

extern "C" UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return CopyOut("C:\\Windows\\system32", lpBuffer, uSize);
}

extern "C" BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (!lpVersionInformation) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  // The stand-in presents itself as Windows 10 22H2, workstation.
  lpVersionInformation->dwMajorVersion = 10;
  lpVersionInformation->dwMinorVersion = 0;
  lpVersionInformation->dwBuildNumber = 19045;
  lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::memset(lpVersionInformation->szCSDVersion, 0, sizeof lpVersionInformation->szCSDVersion);
  if (size == sizeof(OSVERSIONINFOEXA)) {
    auto* ex = reinterpret_cast<LPOSVERSIONINFOEXA>(lpVersionInformation);
    ex->wServicePackMajor = 0;
    ex->wServicePackMinor = 0;
    ex->wSuiteMask = VER_SUITE_SINGLEUSERTS;
    ex->wProductType = VER_NT_WORKSTATION;
    ex->wReserved = 0;
  }
  return TRUE;
}
