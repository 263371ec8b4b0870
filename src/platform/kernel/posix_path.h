// File names as the engine writes them (ANSI code page, '\\' or '/' between
// folders) turned into the POSIX paths the file system takes (UTF-8, '/'),
// and back.
#pragma once

#include <windows.h>

#include <string>

namespace kv::platform {

// Converts an ANSI-code-page name to a UTF-8 POSIX path. False, with the
// Windows error set, for a null name (ERROR_INVALID_PARAMETER), an empty name
// (ERROR_PATH_NOT_FOUND), bytes that are not text in the code page, or a
// character Windows forbids in names (* ? " < > |) (ERROR_INVALID_NAME).
// The conversion to UTF-8 happens before separators are looked at, so a
// Big5 trail byte 0x5C is never taken for a backslash.
bool ToPosixPath(LPCSTR name, std::string* out);

// Converts a UTF-8 string (a path from the system) to the ANSI code page.
// False with ERROR_NO_UNICODE_TRANSLATION when it is not valid UTF-8.
bool Utf8ToAnsi(const std::string& utf8, std::string* out);

}  // namespace kv::platform
