// ChangePfxPasswd and ChangePfxPasswdEx: a PFX file re-protected under a new
// password. The new image replaces the file atomically, so a crash, a full
// disk or a pulled stick leaves the file readable under the old or the new
// password, never neither. The Ex form also updates the password that the
// shared signer cache holds for that file.
#include <shlwapi.h>
#include <windows.h>
#include <wincrypt.h>

#include "cert/pfx_file.h"
#include "engine/capi_engine.h"
#include "engine/text.h"
#include "keys/pfx_common.h"
#include "sign/signer_cache.h"
#include "sign/signer_record.h"
#include "ui/dialog_launch.h"

namespace {

struct PasswordChange {
  std::string folder, fileName, oldPassword, newPassword;
  std::string fullName;  // set once the file is known
  ~PasswordChange() {
    SecureZeroMemory(&oldPassword[0], oldPassword.size());
    SecureZeroMemory(&newPassword[0], newPassword.size());
  }
};

// The export's platform error, refined into the code the caller sees.
ErrorCode ExportFailure(DWORD error) {
  switch (error) {
    case ERROR_CANCELLED: return ERR_USER_CANCEL;
    case static_cast<DWORD>(NTE_NO_KEY): return ERR_NO_PRIVATE_KEY;
    case static_cast<DWORD>(NTE_BAD_KEY): return ERR_KEY_NOT_EXPORTABLE;
    default: return ERR_PFX_STORE_DENIED;
  }
}

ErrorCode Rewrite(CCapiEngine& engine, PasswordChange& change) {
  if (change.folder.empty() || change.fileName.empty() || change.oldPassword.empty() || change.newPassword.empty()) {
    ErrorCode asked = kv::ui::AskChangePfxPassword(change.folder, change.fileName, change.oldPassword,
                                                   change.newPassword, engine.m_pwdMinLen, engine.m_pwdMaxLen);
    if (asked != ERR_SUCCESS) {
      engine.Fail(asked);
      return asked;
    }
  }
  change.fullName = kv::keys::PfxFullName(change.folder, change.fileName);
  if (!PathFileExistsA(change.fullName.c_str())) {
    engine.Fail(ERR_FILE_NOT_FOUND);
    return ERR_FILE_NOT_FOUND;
  }
  CPfxFile pfx;
  ErrorCode code = kv::keys::LoadPfx(engine, pfx, change.fullName, change.oldPassword, kv::keys::kLoadExportable, true);
  if (code != ERR_SUCCESS) return code;

  std::u16string wide = kv::NarrowToWide(change.newPassword);
  LPCWSTR password = reinterpret_cast<LPCWSTR>(wide.c_str());
  CRYPT_DATA_BLOB blob = {0, nullptr};
  CByteBuffer image;
  if (!PFXExportCertStore(pfx.Store(), &blob, password, kv::keys::kPfxExportKeys)) {
    DWORD error = GetLastError();
    code = ExportFailure(error);
    engine.FailWithPlatformError(code, error);
  } else if (!image.Allocate(static_cast<int32_t>(blob.cbData))) {
    code = ERR_CERT_FILE_WRITE;
    engine.Fail(code);
  } else {
    blob.pbData = image.Data();
    if (!PFXExportCertStore(pfx.Store(), &blob, password, kv::keys::kPfxExportKeys)) {
      DWORD error = GetLastError();
      code = ExportFailure(error);
      engine.FailWithPlatformError(code, error);
    } else if (!image.SaveToFileAtomically(change.fullName)) {
      code = ERR_CERT_FILE_WRITE;
      engine.FailWithLastError(code);
    }
  }
  SecureZeroMemory(&wide[0], wide.size() * sizeof(char16_t));
  return code;
}

// The signer cache remembers a PFX signer's password; after its file was
// rewritten the cached password must follow. Both names are joined the way
// the cache joins them, so a folder given with or without its closing
// backslash names the same file.
void UpdateCachedPassword(CCapiEngine& engine, const PasswordChange& change) {
  CSignerCache cache(engine);
  if (!cache.Area()) return;
  if (cache.ReadInt(kSignerMediaKey) != kv::sign::kSourcePfx) return;
  std::string cached =
      kv::sign::JoinPfxPath(cache.ReadString(kSignerCertFilePathKey), cache.ReadString(kSignerCertFileNameKey));
  if (kv::EqualsNoCase(cached, kv::sign::JoinPfxPath(change.folder, change.fileName))) {
    cache.WriteString(kSignerCertPasswdKey, change.newPassword);
  }
}

}  // namespace

LONG CCapiEngine::ChangePfxPasswd(BSTR strPfxPath, BSTR strPfxName, BSTR strOldPass, BSTR strNewPass, LONG dwFlags) {
  (void)dwFlags;  // accepted and not read
  bool newCarried = kv::keys::CodePageCarries(strNewPass);
  PasswordChange change{kv::TakeNarrow(strPfxPath), kv::TakeNarrow(strPfxName), kv::TakeNarrow(strOldPass),
                        kv::TakeNarrow(strNewPass), {}};
  ResetErrors();
  if (RefuseInProtectedMode()) return Code();
  if (!newCarried) return kv::keys::RefuseNewPassword(*this);
  return Rewrite(*this, change);
}

LONG CCapiEngine::ChangePfxPasswdEx(BSTR strPfxPath, BSTR strPfxName, BSTR strOldPass, BSTR strNewPass, LONG dwPort,
                                    LONG dwFlags) {
  (void)dwFlags;
  bool newCarried = kv::keys::CodePageCarries(strNewPass);
  PasswordChange change{kv::TakeNarrow(strPfxPath), kv::TakeNarrow(strPfxName), kv::TakeNarrow(strOldPass),
                        kv::TakeNarrow(strNewPass), {}};
  ResetErrors();
  if (RefuseInProtectedMode()) return Code();
  if (!newCarried) return kv::keys::RefuseNewPassword(*this);
  ErrorCode code = Rewrite(*this, change);
  if (code == ERR_SUCCESS && dwPort > 0) UpdateCachedPassword(*this, change);
  return code;
}
