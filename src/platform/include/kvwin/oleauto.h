// Automation strings (BSTR) with the Windows layout: a 32-bit byte length before the characters and a terminating zero after them.
#pragma once

#include "kvwin/types.h"

#ifdef __cplusplus
extern "C" {
#endif

BSTR WINAPI SysAllocString(const OLECHAR* psz);
BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len);
void WINAPI SysFreeString(BSTR bstrString);
UINT WINAPI SysStringLen(BSTR pbstr);
UINT WINAPI SysStringByteLen(BSTR bstr);

#ifdef __cplusplus
}
#endif
