// ChangePfxPasswd and ChangePfxPasswdEx: a PFX file re-protected under a new
// password. The new image replaces the file atomically, so a crash, a full
// disk or a pulled stick leaves the file readable under the old or the new
// password, never neither. A file given through a symbolic link is replaced
// where it really is. Changes of one file by several processes take turns:
// each checks the old password under the file's lock, so a change that lost
// the race meets the winner's password and fails as a wrong old password
// instead of writing over the winner. The Ex form also updates the password
// that the shared signer cache holds for that file.
#include <shlwapi.h>
#include <windows.h>
#include <wincrypt.h>

#include "cert/pfx_file.h"
#include "codec/final_file_name.h"
#include "engine/capi_engine.h"
#include "keys/pfx_settings.h"
#include "vocabulary/text.h"
#include "host/page_action_guard.h"
#include "keys/pfx_common.h"
#include "keys/pfx_file_lock.h"
#include "sign/signer_cache.h"
#include "sign/signer_record.h"
#include "ui/dialog_launch.h"

namespace {

// How long a change waits for another process's change of the same file: far
// longer than one rewrite takes, short enough not to hang a page for good.
constexpr DWORD kLockWaitMs = 30000;

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

// Holds `lock` from the check of the old password to the end of the write;
// the caller keeps it for what must follow the write in the same turn.
ErrorCode Rewrite(CCapiEngine& engine, PasswordChange& change, CPfxFileLock& lock) {
  if (change.folder.empty() || change.fileName.empty() || change.oldPassword.empty() || change.newPassword.empty()) {
    const kv::keys::PfxSettings& pfx = engine.Pfx();
    ErrorCode asked = kv::ui::AskChangePfxPassword(change.folder, change.fileName, change.oldPassword,
                                                   change.newPassword, pfx.MinPasswordLength(),
                                                   pfx.MaxPasswordLength());
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
  std::string target;
  if (!kv::FinalFileName(change.fullName, &target)) {
    engine.FailWithLastError(ERR_PFX_FILE_READ);
    return ERR_PFX_FILE_READ;
  }
  if (!lock.Acquire(target, kLockWaitMs)) {
    engine.FailWithPlatformError(ERR_CERT_FILE_WRITE, lock.LastError());
    return ERR_CERT_FILE_WRITE;
  }
  CPfxFile pfx;
  ErrorCode code = kv::keys::LoadPfx(engine, pfx, target, change.oldPassword, kv::keys::kLoadExportable, true);
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
    } else if (!image.SaveToFileAtomically(target)) {
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
  bool newCarried = kv::CodePageCarries(strNewPass);
  if (ErrorCode refused = kv::host::ConfirmPageAction(*this, kv::host::PageAction::kChangePfxPassword,
                                                      {strPfxPath, strPfxName, strOldPass, strNewPass}))
    return refused;
  PasswordChange change{kv::TakeNarrow(strPfxPath), kv::TakeNarrow(strPfxName), kv::TakeNarrow(strOldPass),
                        kv::TakeNarrow(strNewPass), {}};
  ResetErrors();
  if (RefuseInProtectedMode()) return Code();
  if (!newCarried) return kv::keys::RefuseNewPassword(*this);
  CPfxFileLock lock;
  return Rewrite(*this, change, lock);
}

LONG CCapiEngine::ChangePfxPasswdEx(BSTR strPfxPath, BSTR strPfxName, BSTR strOldPass, BSTR strNewPass, LONG dwPort,
                                    LONG dwFlags) {
  (void)dwFlags;
  bool newCarried = kv::CodePageCarries(strNewPass);
  if (ErrorCode refused = kv::host::ConfirmPageAction(*this, kv::host::PageAction::kChangePfxPassword,
                                                      {strPfxPath, strPfxName, strOldPass, strNewPass}))
    return refused;
  PasswordChange change{kv::TakeNarrow(strPfxPath), kv::TakeNarrow(strPfxName), kv::TakeNarrow(strOldPass),
                        kv::TakeNarrow(strNewPass), {}};
  ResetErrors();
  if (RefuseInProtectedMode()) return Code();
  if (!newCarried) return kv::keys::RefuseNewPassword(*this);
  // The cache follows the file in the same turn, so the last change written
  // is also the last password cached.
  CPfxFileLock lock;
  ErrorCode code = Rewrite(*this, change, lock);
  if (code == ERR_SUCCESS && dwPort > 0) UpdateCachedPassword(*this, change);
  return code;
}
