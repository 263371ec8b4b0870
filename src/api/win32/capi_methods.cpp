// ICAPI's methods, one per line of the operation table: each takes an owned
// copy of its string arguments (a null BSTR reads as empty), calls the engine
// operation of the same name, stores the result and returns S_OK; failures
// travel only through the engine's error state. A page the site lock refuses
// gets the empty result and 1502 instead of the operation.
#include <cstring>

#include "api/export_door.h"
#include "api/win32/capi_object.h"
#include "engine/capi_engine.h"

namespace kv::com {
namespace {

// The first argument when it is a string: the registry name of the two
// registry writers.
inline BSTR FirstString() { return nullptr; }
template <class... Rest>
BSTR FirstString(BSTR first, Rest...) {
  return first;
}
template <class... Rest>
BSTR FirstString(LONG, Rest...) {
  return nullptr;
}

bool IsOneOf(const char* name, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (std::strcmp(name, n) == 0) return true;
  return false;
}

// What a refused operation answers: an empty string, 0 for the getters of a
// value, the result code for the operations that report one.
template <class T>
T Refused(const char* name);
template <>
BSTR Refused<BSTR>(const char*) {
  return SysAllocString(L"");
}
template <>
LONG Refused<LONG>(const char* name) {
  return IsOneOf(name, {"GetPortEx", "GetCertKeyUsage", "GetIECertCount"}) ? 0 : TheEngine().Code();
}

}  // namespace

#define KV_COM_ARG_BSTR(name) kv::CopyArg(name)
#define KV_COM_ARG_LONG(name) name
#define KV_COM_ARG(type, name) KV_CAT(KV_COM_ARG_, type)(name)
#define KV_COM_NAME(type, name) name

#define KV_OPERATION(slot, dispid, result, name, exportName, params)                                      \
  STDMETHODIMP CCapiObject::name(KV_PARAM_LIST(KV_COM_PARAM, params) KV_COM_COMMA_IF(params)              \
                                     KV_COM_RESULT(result)) {                                            \
    if (!pResult) return E_POINTER;                                                                      \
    bool allowed = IsOneOf(#name, {"GetErrorCode", "GetErrorMsg", "GetCapiErrorCode", "GetCapiErrorMsg"}) \
                       ? true                                                                            \
                   : IsOneOf(#name, {"RegWriteHKCUInt", "RegWriteHKCUStr"})                              \
                       ? EnterRegistryWrite(FirstString(KV_PARAM_LIST(KV_COM_NAME, params)))             \
                       : EnterCall();                                                                    \
    if (!allowed)                                                                                        \
      *pResult = Refused<result>(#name);                                                                 \
    else                                                                                                 \
      *pResult = TheEngine().name(KV_PARAM_LIST(KV_COM_ARG, params));                                    \
    return S_OK;                                                                                         \
  }
#include "engine/operation_table.h"

}  // namespace kv::com
