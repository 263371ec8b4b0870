// ImportPfxToIE and QueryPfxInfo: a PFX file's key-bearing certificates
// moved into the personal store, or only shown to the certificate getters.
// Both ask for the file in the PFX file dialog when the caller left a part
// of its location or the password empty.
#include <shlwapi.h>
#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "cert/cert_finder.h"
#include "cert/pfx_file.h"
#include "engine/capi_engine.h"
#include "keys/pfx_settings.h"
#include "kvseam/owned_handles.h"
#include "sign/signer_state.h"
#include "vocabulary/text.h"
#include "host/page_action_guard.h"
#include "keys/import_key_containers.h"
#include "keys/pfx_common.h"
#include "sign/signer_record.h"
#include "ui/dialog_launch.h"

namespace {

using kv::keys::AcquireKey;
using kv::keys::HasKeyUsage;

struct PfxLocation {
  std::string folder;
  std::string fileName;
  std::string password;
};

// Steps both operations share: the dialog when something is missing, the
// file's existence, the load. Returns 0 with the file loaded.
ErrorCode OpenPfx(CCapiEngine& engine, PfxLocation& where, LONG flags, CPfxFile& pfx) {
  if (where.folder.empty() || where.fileName.empty() || where.password.empty()) {
    ErrorCode asked = kv::ui::AskPfxFile(where.folder, where.fileName, where.password, engine.Pfx().MinPasswordLength(),
                                         engine.Pfx().MaxPasswordLength());
    if (asked != ERR_SUCCESS) {
      engine.Fail(asked);
      return asked;
    }
  }
  std::string full = kv::keys::PfxFullName(where.folder, where.fileName);
  if (!PathFileExistsA(full.c_str())) {
    engine.Fail(ERR_FILE_NOT_FOUND);
    return ERR_FILE_NOT_FOUND;
  }
  return kv::keys::LoadPfx(engine, pfx, full, where.password, flags & kv::keys::kImportKeyFlags, true);
}

// The certificate walk of both operations. `personal` is the store to import
// into, or null for the query. The code of the first certificate that was
// taken or rejected, 0 as soon as one was taken.
class CertificateWalk {
 public:
  CertificateWalk(CCapiEngine& engine, const PfxLocation& where, LONG keyUsage)
      : e_(engine), where_(where), keyUsage_(keyUsage) {}

  ErrorCode Run(CPfxFile& pfx, CCertFinder* personal) {
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(pfx.Store(), context)) != nullptr) {
      DWORD error = 0;
      if (!AcquireKey(context, nullptr, nullptr, &error)) {
        Reject(ERR_NO_PRIVATE_KEY, error);
        continue;
      }
      if (!HasKeyUsage(context, keyUsage_)) {
        Reject(ERR_CERT_KEY_USAGE, 0);
        unused_.emplace_back(CertDuplicateCertificateContext(context));
        continue;
      }
      CReplacedKeyContainer replaced;
      if (personal) replaced.Note(*personal, context);
      if (personal && !CertAddCertificateContextToStore(personal->Store(), context,
                                                        CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES, nullptr)) {
        Reject(ERR_CERT_NOT_FOUND, GetLastError());
        unused_.emplace_back(CertDuplicateCertificateContext(context));
        continue;
      }
      if (!e_.Signer().AppendCertificate(context->pbCertEncoded, static_cast<int32_t>(context->cbCertEncoded))) {
        Reject(ERR_MEM_ALLOC, 0);
        continue;
      }
      if (personal) {
        e_.Pfx().SetImported({where_.folder, where_.fileName});
        // The imported key containers now back the personal-store copy.
        pfx.m_deleteKeysOnClose = false;
        replaced.RemoveIfUnused(*personal, context);
      } else {
        e_.Signer().SetPfxFile(where_.folder, where_.fileName);
      }
      ++taken_;
      code_ = ERR_SUCCESS;
    }
    // The loader now keeps every container; those of the certificates left
    // out would back nothing.
    for (kv::OwnedCertificate& left : unused_) {
      if (personal && taken_ > 0) kv::keys::DeleteUnusedKeyContainer(*personal, pfx, left.get());
      left.reset();
    }
    unused_.clear();
    // A rejection before the first success leaves no platform error behind.
    if (taken_ > 0) e_.NotePlatformError(0);
    return code_;
  }

 private:
  // Only what happens before the first success counts.
  void Reject(ErrorCode code, DWORD error) {
    if (taken_ > 0) return;
    code_ = code;
    if (error != 0) e_.NotePlatformError(error);
  }

  CCapiEngine& e_;
  const PfxLocation& where_;
  LONG keyUsage_;
  ErrorCode code_ = ERR_CERT_NOT_FOUND;
  int taken_ = 0;
  std::vector<kv::OwnedCertificate> unused_;  // key-bearing certificates not taken
};

}  // namespace

LONG CCapiEngine::ImportPfxToIE(BSTR strPfxPath, BSTR strPfxName, BSTR strPasswd, LONG dwFlags, LONG dwKeyUsage) {
  if (ErrorCode refused =
          kv::host::ConfirmPageAction(*this, kv::host::PageAction::kImportPfx, {strPfxPath, strPfxName, strPasswd}))
    return refused;
  PfxLocation where{kv::TakeNarrow(strPfxPath), kv::TakeNarrow(strPfxName), kv::TakeNarrow(strPasswd)};
  ResetErrors();
  Signer().Forget();
  Pfx().SetImported({});
  if (RefuseInProtectedMode()) return Code();

  CPfxFile pfx;
  if (OpenPfx(*this, where, dwFlags, pfx) != ERR_SUCCESS) return Code();
  CCertFinder personal;
  ErrorCode code = personal.OpenMyStore();
  if (code != ERR_SUCCESS) {
    FailWithPlatformError(ERR_OPEN_MY_STORE, personal.LastError());
    return Code();
  }
  code = CertificateWalk(*this, where, dwKeyUsage).Run(pfx, &personal);
  Fail(code);
  return code;
}

LONG CCapiEngine::QueryPfxInfo(BSTR strPfxPath, BSTR strPfxName, BSTR strPasswd, LONG dwFlags, LONG dwKeyUsage) {
  PfxLocation where{kv::TakeNarrow(strPfxPath), kv::TakeNarrow(strPfxName), kv::TakeNarrow(strPasswd)};
  ResetErrors();
  Signer().Forget();
  if (RefuseInProtectedMode()) return Code();

  CPfxFile pfx;
  if (OpenPfx(*this, where, dwFlags, pfx) != ERR_SUCCESS) return Code();
  // Nothing is imported: the loader removes the temporary key containers
  // when it closes.
  ErrorCode code = CertificateWalk(*this, where, dwKeyUsage).Run(pfx, nullptr);
  Fail(code);
  return code;
}
