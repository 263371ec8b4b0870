// Exported enrolment operations: provider choice, requests, acceptance.
#include "api/export_door.h"

KV_EXPORT(LONG) SetProviderName(LPCWSTR strProviderName) {
  return TheEngine().SetProviderName(kv::CopyArg(strProviderName));
}

KV_EXPORT(BSTR) CreatePKCS10(LPCWSTR commonName, LONG keyBits, LONG genKeyFlags) {
  return TheEngine().CreatePKCS10(kv::CopyArg(commonName), keyBits, genKeyFlags);
}

KV_EXPORT(LONG) CreatePKCS10Pair(LPCWSTR commonName, LONG keyBits, LONG genKeyFlags) {
  return TheEngine().CreatePKCS10Pair(kv::CopyArg(commonName), keyBits, genKeyFlags);
}

KV_EXPORT(BSTR) GetCsrForSign() { return TheEngine().GetCsrForSign(); }

KV_EXPORT(BSTR) GetCsrForEncrypt() { return TheEngine().GetCsrForEncrypt(); }

KV_EXPORT(LONG) AcceptPKCS7(LPCWSTR strPkcs7) { return TheEngine().AcceptPKCS7(kv::CopyArg(strPkcs7)); }
