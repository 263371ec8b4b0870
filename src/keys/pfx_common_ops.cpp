// Shared pieces of the PFX file operations.
#include "keys/pfx_common.h"

#include "cert/cert_info.h"
#include "cert/pfx_file.h"
#include "engine/capi_engine.h"
#include "ui/dialog_launch.h"

namespace kv::keys {

std::string PfxFullName(const std::string& folder, const std::string& fileName) {
  return folder.size() > 3 ? folder + "\\" + fileName : folder + fileName;
}

bool IsKeyStorageFailure(DWORD error) {
  // Win32 errors arrive bare or wrapped as HRESULTs by the provider.
  if ((error & 0xFFFF0000u) == 0x80070000u) error &= 0xFFFFu;
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_LOCK_VIOLATION:
    case ERROR_OPEN_FAILED:
    case ERROR_DISK_FULL:
    case ERROR_CANTWRITE:
    case ERROR_FILE_CORRUPT:
    case static_cast<DWORD>(NTE_FAIL):
    case static_cast<DWORD>(NTE_BAD_KEYSET):
    case static_cast<DWORD>(NTE_KEYSET_ENTRY_BAD):
    case static_cast<DWORD>(NTE_TEMPORARY_PROFILE):
      return true;
    default:
      return false;
  }
}

ErrorCode LoadPfx(CCapiEngine& engine, CPfxFile& pfx, const std::string& fullName, const std::string& password,
                  LONG flags, bool mapAccessDenied) {
  ErrorCode code = pfx.Load(fullName, password, flags);
  DWORD error = pfx.LastError();
  if (mapAccessDenied && error == static_cast<DWORD>(NTE_PERM)) code = ERR_ACCESS_DENIED;
  // The password opened the file, but the provider could not keep its keys
  // (a full disk, a read-only profile, a damaged key store): not a password
  // matter, and the platform error says which.
  if (code == ERR_PKCS12_PASSWORD && IsKeyStorageFailure(error)) code = ERR_CSP_ACQUIRE;
  if (code != ERR_SUCCESS) engine.FailWithPlatformError(code, error);
  return code;
}

bool AcquireKey(PCCERT_CONTEXT context, HCRYPTPROV* provider, DWORD* keySpec, DWORD* error) {
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
  DWORD spec = 0;
  BOOL callerFree = FALSE;
  if (!CryptAcquireCertificatePrivateKey(context, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &handle, &spec, &callerFree)) {
    *error = GetLastError();
    return false;
  }
  if (provider) *provider = static_cast<HCRYPTPROV>(handle);
  if (keySpec) *keySpec = spec;
  return true;
}

bool HasKeyUsage(PCCERT_CONTEXT context, LONG required) {
  if (required <= 0) return true;
  CCertInfo info(context);
  return (info.GetKeyUsage() & required) == required;
}

ErrorCode RefuseNewPassword(CCapiEngine& engine) {
  engine.FailWithPlatformError(ERR_UNICODE, ERROR_NO_UNICODE_TRANSLATION);
  return ERR_UNICODE;
}

ErrorCode PickCertificate(const CCertContextList& matches, bool alwaysAsk, size_t* chosen) {
  if (matches.Empty()) return ERR_CERT_NOT_FOUND;
  if (matches.Count() == 1 && !alwaysAsk) {
    *chosen = 0;
    return ERR_SUCCESS;
  }
  std::vector<CertChooserRow> rows;
  for (size_t i = 0; i < matches.Count(); ++i) {
    CCertInfo info(matches[i]);
    rows.push_back(kv::ui::MakeChooserRow(info.GetSubjectCN(), info.GetSubject(), info.GetSerial(),
                                          info.GetNotBeforeDate(), info.GetNotAfterDate(), info.GetIssuerCN(),
                                          info.GetIssuer(), matches[i]->pbCertEncoded, matches[i]->cbCertEncoded));
  }
  int index = -1;
  ErrorCode code = kv::ui::ChooseCertificate(rows, &index);
  if (code != ERR_SUCCESS) return code;
  if (index < 0 || static_cast<size_t>(index) >= matches.Count()) return ERR_CERT_NOT_FOUND;
  *chosen = static_cast<size_t>(index);
  return ERR_SUCCESS;
}

}  // namespace kv::keys
