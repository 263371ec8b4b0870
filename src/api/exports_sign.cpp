// Exports of signer selection and signing.
#include "api/export_door.h"

KV_EXPORT(LONG) SelectSigner(LPCWSTR certFilter, LONG dwFlags, LONG dwKeyUsage) {
  return TheEngine().SelectSigner(kv::CopyArg(certFilter), dwFlags, dwKeyUsage);
}
KV_EXPORT(LONG)
SelectSignerEx(LPCWSTR certFilter, LPCWSTR strPfxPath, LPCWSTR strPfxName, LPCWSTR strPasswd, LPCWSTR strCompareDate,
               LONG dwFlags, LONG dwKeyUsage) {
  return TheEngine().SelectSignerEx(kv::CopyArg(certFilter), kv::CopyArg(strPfxPath), kv::CopyArg(strPfxName),
                                    kv::CopyArg(strPasswd), kv::CopyArg(strCompareDate), dwFlags, dwKeyUsage);
}
KV_EXPORT(LONG)
SelectSignerEx2(LPCWSTR certFilter, LPCWSTR strPfxPath, LPCWSTR strPfxName, LONG dwPort, LPCWSTR strCompareDate,
                LONG dwFlags, LONG dwKeyUsage) {
  return TheEngine().SelectSignerEx2(kv::CopyArg(certFilter), kv::CopyArg(strPfxPath), kv::CopyArg(strPfxName),
                                     dwPort, kv::CopyArg(strCompareDate), dwFlags, dwKeyUsage);
}
KV_EXPORT(BSTR) GetSignerPfxFilePath() { return TheEngine().GetSignerPfxFilePath(); }
KV_EXPORT(BSTR) GetSignerPfxFileName() { return TheEngine().GetSignerPfxFileName(); }
KV_EXPORT(BSTR) SignPkcs1(LPCWSTR strContent, LONG dwFlags) {
  return TheEngine().SignPkcs1(kv::CopyArg(strContent), dwFlags);
}
KV_EXPORT(BSTR) SignPkcs7(LPCWSTR strContent, LONG dwFlags) {
  return TheEngine().SignPkcs7(kv::CopyArg(strContent), dwFlags);
}
