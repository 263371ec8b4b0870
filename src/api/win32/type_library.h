// The embedded type library (resource TYPELIB 1): the descriptions behind
// IDispatch and IProvideClassInfo2, loaded from the module itself so the
// object works whether or not the library is registered.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace kv::com {

struct CapiTypeInfo {
  ITypeInfo* dispatch = nullptr;   // ICAPI as scripts see it (TKIND_DISPATCH)
  ITypeInfo* vtable = nullptr;     // ICAPI's dual virtual table (TKIND_INTERFACE), for Invoke
  ITypeInfo* coclass = nullptr;    // CAPI
  void Release();
};

HRESULT LoadCapiTypeInfo(CapiTypeInfo* info);

}  // namespace kv::com
