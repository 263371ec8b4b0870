// Following a file name to the file itself through an open handle, which the
// system resolves for us (links, relative parts, junctions).
#include "codec/final_file_name.h"

#include <windows.h>

#include <vector>

namespace kv {

namespace {

// Windows hands the name back in its long form; the ANSI file calls take the
// ordinary one.
std::string WithoutLongPrefix(const std::string& name) {
  static const char kUnc[] = "\\\\?\\UNC\\";
  static const char kLong[] = "\\\\?\\";
  if (name.compare(0, sizeof kUnc - 1, kUnc) == 0) return "\\\\" + name.substr(sizeof kUnc - 1);
  if (name.compare(0, sizeof kLong - 1, kLong) == 0) return name.substr(sizeof kLong - 1);
  return name;
}

}  // namespace

bool FinalFileName(const std::string& path, std::string* finalName) {
  // No access right asked: only the name is wanted, whoever else has it open.
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    *finalName = path;
    return true;
  }
  std::vector<char> name(MAX_PATH + 1);
  DWORD n = GetFinalPathNameByHandleA(file, name.data(), static_cast<DWORD>(name.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n >= name.size()) {
    name.resize(n + 1);
    n = GetFinalPathNameByHandleA(file, name.data(), static_cast<DWORD>(name.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  const DWORD error = GetLastError();
  CloseHandle(file);
  if (n == 0 || n >= name.size()) {
    SetLastError(n == 0 ? error : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    return false;
  }
  *finalName = WithoutLongPrefix(std::string(name.data(), n));
  return true;
}

}  // namespace kv
