// ICAPI's methods, one per line of the operation table: each takes an owned
// copy of its string arguments (a null BSTR reads as empty), calls the engine
// operation of the same name, stores the result and returns S_OK; failures
// travel only through the engine's error state. A page the site lock refuses
// gets the empty result and 1502 instead of the operation.
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

}  // namespace

#define KV_COM_ARG_BSTR(name) kv::CopyArg(name)
#define KV_COM_ARG_LONG(name) name
#define KV_COM_ARG(type, name) KV_CAT(KV_COM_ARG_, type)(name)
#define KV_COM_NAME(type, name) name

// The table's policy column: how a call is admitted and what a refused call
// answers.
#define KV_COM_POLICY_LOCK(reset, protectedMode, siteLock, refused, page) siteLock
#define KV_COM_POLICY_REFUSED(reset, protectedMode, siteLock, refused, page) refused
#define KV_COM_ENTER(policy, params) KV_CAT(KV_COM_ENTER_, KV_COM_POLICY_LOCK policy)(params)
#define KV_COM_ENTER_Open(params) true
#define KV_COM_ENTER_Call(params) EnterCall()
#define KV_COM_ENTER_RegistryWrite(params) EnterRegistryWrite(FirstString(KV_PARAM_LIST(KV_COM_NAME, params)))
#define KV_COM_REFUSED(policy) KV_CAT(KV_COM_REFUSED_, KV_COM_POLICY_REFUSED policy)
#define KV_COM_REFUSED_Empty SysAllocString(L"")
#define KV_COM_REFUSED_Zero 0
#define KV_COM_REFUSED_Code TheEngine().Code()
#define KV_COM_REFUSED_Never {}

#define KV_OPERATION(slot, dispid, result, name, exportName, params, policy)                         \
  STDMETHODIMP CCapiObject::name(KV_PARAM_LIST(KV_COM_PARAM, params) KV_COM_COMMA_IF(params)         \
                                     KV_COM_RESULT(result)) {                                       \
    if (!pResult) return E_POINTER;                                                                 \
    if (!KV_COM_ENTER(policy, params))                                                              \
      *pResult = KV_COM_REFUSED(policy);                                                            \
    else                                                                                            \
      *pResult = TheEngine().name(KV_PARAM_LIST(KV_COM_ARG, params));                               \
    return S_OK;                                                                                    \
  }
#include "engine/operation_table.h"

}  // namespace kv::com
