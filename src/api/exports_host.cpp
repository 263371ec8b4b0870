// Exports of the host operations: network adapters, system name, home
// folder and registry values.
#include "api/export_door.h"

KV_EXPORT(BSTR) GetMacAddress() { return TheEngine().GetMacAddress(); }
KV_EXPORT(BSTR) GetOSName() { return TheEngine().GetOSName(); }
KV_EXPORT(BSTR) GetUserHomePath() { return TheEngine().GetUserHomePath(); }
KV_EXPORT(BSTR) RegReadHKCU(LPCWSTR strName) { return TheEngine().RegReadHKCU(kv::CopyArg(strName)); }
KV_EXPORT(BSTR) RegReadHKLM(LPCWSTR strName) { return TheEngine().RegReadHKLM(kv::CopyArg(strName)); }
KV_EXPORT(LONG) RegWriteHKCUInt(LPCWSTR strName, LONG dw) { return TheEngine().RegWriteHKCUInt(kv::CopyArg(strName), dw); }
KV_EXPORT(LONG) RegWriteHKCUStr(LPCWSTR strName, LPCWSTR str) {
  return TheEngine().RegWriteHKCUStr(kv::CopyArg(strName), kv::CopyArg(str));
}
