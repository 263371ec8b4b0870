// Automation strings (BSTR) with the Windows layout: a 32-bit byte length before the characters and a terminating zero after them.
#pragma once

#include "kvwin/types.h"

#ifdef __cplusplus
extern "C" {
#endif

// The library exports these so that hosts free its results with them.
#define KV_STRING_API __attribute__((visibility("default")))

KV_STRING_API BSTR WINAPI SysAllocString(const OLECHAR* psz);
KV_STRING_API BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
KV_STRING_API BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len);
KV_STRING_API void WINAPI SysFreeString(BSTR bstrString);
KV_STRING_API UINT WINAPI SysStringLen(BSTR pbstr);
KV_STRING_API UINT WINAPI SysStringByteLen(BSTR bstr);

#ifdef __cplusplus
}
#endif
