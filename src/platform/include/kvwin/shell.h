// Shell calls: path checks, folders, temporary path, the folder browser, the open-file dialog and opening a file with the desktop's viewer.
#pragma once

#include "kvwin/types.h"

#ifdef __cplusplus
extern "C" {
#endif

// True when the file or folder exists. Names are in the ANSI code page, with
// '\\' or '/' between folders; on failure the last error says why.
BOOL WINAPI PathFileExistsA(LPCSTR pszPath);

#ifdef __cplusplus
}
#endif
