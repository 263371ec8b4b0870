// The library's flat exports: one per line of the operation table, named by
// its exportName, taking string arguments as LPCWSTR (copied into BSTRs the
// engine operation owns) and integers as LONG, and returning the engine's
// result unchanged.
#include "api/export_door.h"

#define KV_EXPORT_TYPE_BSTR LPCWSTR
#define KV_EXPORT_TYPE_LONG LONG
#define KV_EXPORT_PARAM(type, name) KV_CAT(KV_EXPORT_TYPE_, type) name

#define KV_EXPORT_ARG_BSTR(name) kv::CopyArg(name)
#define KV_EXPORT_ARG_LONG(name) name
#define KV_EXPORT_ARG(type, name) KV_CAT(KV_EXPORT_ARG_, type)(name)

#define KV_OPERATION(slot, dispid, result, name, exportName, params, policy) \
  KV_EXPORT(result) exportName(KV_PARAM_LIST(KV_EXPORT_PARAM, params)) {      \
    return TheEngine().name(KV_PARAM_LIST(KV_EXPORT_ARG, params));            \
  }
#include "engine/operation_table.h"
