// Exports of the PFX file operations and the mobile key export.
#include "api/export_door.h"

KV_EXPORT(LONG) SetDefaultPfxFileName(LPCWSTR strPrefix) {
  return TheEngine().SetDefaultPfxFileName(kv::CopyArg(strPrefix));
}
KV_EXPORT(LONG) PresetPasswdLengthRange(LONG min, LONG max) { return TheEngine().PresetPasswdLengthRange(min, max); }
KV_EXPORT(LONG)
ChangePfxPasswd(LPCWSTR strPfxPath, LPCWSTR strPfxName, LPCWSTR strOldPass, LPCWSTR strNewPass, LONG dwFlags) {
  return TheEngine().ChangePfxPasswd(kv::CopyArg(strPfxPath), kv::CopyArg(strPfxName), kv::CopyArg(strOldPass),
                                     kv::CopyArg(strNewPass), dwFlags);
}
KV_EXPORT(LONG)
ChangePfxPasswdEx(LPCWSTR strPfxPath, LPCWSTR strPfxName, LPCWSTR strOldPass, LPCWSTR strNewPass, LONG dwPort,
                  LONG dwFlags) {
  return TheEngine().ChangePfxPasswdEx(kv::CopyArg(strPfxPath), kv::CopyArg(strPfxName), kv::CopyArg(strOldPass),
                                       kv::CopyArg(strNewPass), dwPort, dwFlags);
}
KV_EXPORT(LONG)
QueryPfxInfo(LPCWSTR strPfxPath, LPCWSTR strPfxName, LPCWSTR strPasswd, LONG dwFlags, LONG dwKeyUsage) {
  return TheEngine().QueryPfxInfo(kv::CopyArg(strPfxPath), kv::CopyArg(strPfxName), kv::CopyArg(strPasswd), dwFlags,
                                  dwKeyUsage);
}
KV_EXPORT(LONG)
ImportPfxToIE(LPCWSTR strPfxPath, LPCWSTR strPfxName, LPCWSTR strPasswd, LONG dwFlags, LONG dwKeyUsage) {
  return TheEngine().ImportPfxToIE(kv::CopyArg(strPfxPath), kv::CopyArg(strPfxName), kv::CopyArg(strPasswd), dwFlags,
                                   dwKeyUsage);
}
KV_EXPORT(BSTR) GetImportedPfxFilePath() { return TheEngine().GetImportedPfxFilePath(); }
KV_EXPORT(BSTR) GetImportedPfxFileName() { return TheEngine().GetImportedPfxFileName(); }
KV_EXPORT(LONG)
ExportPfxFromIE(LPCWSTR strSubject, LPCWSTR strPfxPath, LPCWSTR strPassword, LONG dwFlags, LONG dwKeyUsage) {
  return TheEngine().ExportPfxFromIE(kv::CopyArg(strSubject), kv::CopyArg(strPfxPath), kv::CopyArg(strPassword),
                                     dwFlags, dwKeyUsage);
}
KV_EXPORT(BSTR)
ExportMobileFromPfx(LPCWSTR strPfxPath, LPCWSTR strPfxName, LPCWSTR strPasswd, LONG dwFlags, LONG dwKeyUsage) {
  return TheEngine().ExportMobileFromPfx(kv::CopyArg(strPfxPath), kv::CopyArg(strPfxName), kv::CopyArg(strPasswd),
                                         dwFlags, dwKeyUsage);
}
KV_EXPORT(BSTR) ExportMobileFromIE(LPCWSTR strSubject, LPCWSTR strPasswd, LONG dwFlags, LONG dwKeyUsage) {
  return TheEngine().ExportMobileFromIE(kv::CopyArg(strSubject), kv::CopyArg(strPasswd), dwFlags, dwKeyUsage);
}
KV_EXPORT(BSTR) GetExportedPfxFilePath() { return TheEngine().GetExportedPfxFilePath(); }
KV_EXPORT(BSTR) GetExportedPfxFileName() { return TheEngine().GetExportedPfxFileName(); }
