// What every exported operation does around its engine call: take an owned
// copy of each caller string (null stays null, which the engine reads as an
// empty string) and return the engine's result unchanged.
//
// api/exports.cpp defines one `KV_EXPORT(ResultType) Name(args...)` per built
// line of engine/operation_table.h; the Windows build gives the functions
// __stdcall and the decorated names (_Name@N) through korvessa.def, which
// cmake/windows_exports.cmake writes from the same table.
#pragma once

#include <windows.h>

#include "engine/capi_engine.h"

#if defined(_WIN32)
// No dllexport: korvessa.def alone names the exports, so only the decorated
// names appear in the export table.
#define KV_EXPORT(type) extern "C" type __stdcall
#else
#define KV_EXPORT(type) extern "C" __attribute__((visibility("default"))) type
#endif

namespace kv {

inline BSTR CopyArg(LPCWSTR text) { return text ? SysAllocString(reinterpret_cast<const OLECHAR*>(text)) : nullptr; }

}  // namespace kv
