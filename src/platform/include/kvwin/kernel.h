// Kernel calls of the stand-in: last error, code pages, modules and version records, environment, files, OS version, message texts.
#pragma once

#include "kvwin/types.h"

#ifdef __cplusplus
extern "C" {
#endif

// Last error, per thread.
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);

// Code pages.
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF7 65000
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080

// The ANSI code page: 950 unless $KORVESSA_CODEPAGE names another.
UINT WINAPI GetACP(void);
BOOL WINAPI IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar);
BOOL WINAPI IsDBCSLeadByte(BYTE TestChar);
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar);
int WINAPI lstrlenW(LPCWSTR lpString);
int WINAPI lstrlenA(LPCSTR lpString);

#ifdef __cplusplus
}
#endif
