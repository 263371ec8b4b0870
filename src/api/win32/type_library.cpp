// Loading ICAPI's and CAPI's type descriptions from the module's own
// type-library resource.
#include "api/win32/type_library.h"

#include <oleauto.h>

#include "api/win32/com_module.h"
#include "korvessa_idl.h"

namespace kv::com {

void CapiTypeInfo::Release() {
  for (ITypeInfo** p : {&dispatch, &vtable, &coclass}) {
    if (*p) (*p)->Release();
    *p = nullptr;
  }
}

HRESULT LoadCapiTypeInfo(CapiTypeInfo* info) {
  std::wstring path = ThisModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return hr;
  CapiTypeInfo loaded;
  hr = library->GetTypeInfoOfGuid(IID_ICAPI, &loaded.dispatch);
  if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(CLSID_CAPI, &loaded.coclass);
  if (SUCCEEDED(hr)) {
    // A dual interface's dispatch description refers to its virtual-table
    // description as implemented type -1.
    HREFTYPE ref = 0;
    hr = loaded.dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
    if (SUCCEEDED(hr)) hr = loaded.dispatch->GetRefTypeInfo(ref, &loaded.vtable);
  }
  library->Release();
  if (FAILED(hr)) {
    loaded.Release();
    return hr;
  }
  *info = loaded;
  return S_OK;
}

}  // namespace kv::com
