// ExportMobileFromPfx and ExportMobileFromIE: a certificate's private key in
// the encrypted mobile key record, taken from a PFX file or from the
// personal store. The record's password is the only thing protecting the key
// on its way to the phone, so whenever the user types it the page's length
// range applies.
#include <shlwapi.h>
#include <windows.h>
#include <wincrypt.h>

#include "cert/cert_finder.h"
#include "cert/pfx_file.h"
#include "engine/capi_engine.h"
#include "keys/pfx_settings.h"
#include "kvseam/owned_handles.h"
#include "sign/signer_state.h"
#include "vocabulary/text.h"
#include "host/page_action_guard.h"
#include "keys/mobile_key_record.h"
#include "keys/pfx_common.h"
#include "sign/signer_record.h"
#include "ui/dialog_launch.h"

namespace {

using kv::keys::CSecretBuffer;

constexpr LONG kChooserPolicyMask = 0x3;
constexpr LONG kAlwaysChoose = 1;
constexpr LONG kTakeFirst = 2;

// Ends an operation with the record built from `certificate`'s exported key.
BSTR FinishRecord(CCapiEngine& engine, PCCERT_CONTEXT certificate, const std::string& password,
                  const CSecretBuffer& blob) {
  std::string text;
  ErrorCode code = kv::keys::BuildMobileKeyRecord(certificate, password, blob, &text);
  engine.ResetErrors();
  engine.Fail(code);
  return kv::NarrowToBstr(text);
}

struct Secrets {
  std::string password;
  ~Secrets() { SecureZeroMemory(&password[0], password.size()); }
};

}  // namespace

BSTR CCapiEngine::ExportMobileFromPfx(BSTR strPfxPath, BSTR strPfxName, BSTR strPasswd, LONG dwFlags,
                                      LONG dwKeyUsage) {
  if (kv::host::ConfirmPageAction(*this, kv::host::PageAction::kMobileFromPfx, {strPfxPath, strPfxName, strPasswd}) !=
      ERR_SUCCESS)
    return kv::NarrowToBstr(std::string());
  std::string folder = kv::TakeNarrow(strPfxPath);
  std::string fileName = kv::TakeNarrow(strPfxName);
  Secrets secret{kv::TakeNarrow(strPasswd)};
  ResetErrors();
  Pfx().SetExported({});
  if (RefuseInProtectedMode()) return kv::NarrowToBstr(std::string());

  if ((dwFlags & kv::keys::kMobileUseSigner) && Signer().Source() == kv::sign::kSourcePfx) {
    folder = Signer().PfxPath();
    fileName = Signer().PfxName();
    secret.password = Signer().PfxPassword();
  }
  if (folder.empty() || fileName.empty() || secret.password.empty()) {
    ErrorCode asked = kv::ui::AskExportMobile(folder, fileName, secret.password, Pfx().MinPasswordLength(),
                                              Pfx().MaxPasswordLength());
    if (asked != ERR_SUCCESS) {
      Fail(asked);
      return kv::NarrowToBstr(std::string());
    }
  }
  std::string full = kv::keys::PfxFullName(folder, fileName);
  if (!PathFileExistsA(full.c_str())) {
    Fail(ERR_FILE_NOT_FOUND);
    return kv::NarrowToBstr(std::string());
  }
  CPfxFile pfx;
  if (kv::keys::LoadPfx(*this, pfx, full, secret.password, kv::keys::kLoadExportable, false) != ERR_SUCCESS)
    return kv::NarrowToBstr(std::string());

  // The code of the last rejection stands when no certificate qualifies.
  Fail(ERR_CERT_NOT_FOUND);
  kv::OwnedCertificate cursor;
  while (kv::NextCertificate(pfx.Store(), &cursor)) {
    PCCERT_CONTEXT context = cursor.get();
    HCRYPTPROV provider = 0;
    DWORD keySpec = 0, error = 0;
    if (!kv::keys::AcquireKey(context, &provider, &keySpec, &error)) continue;
    if (!kv::keys::HasKeyUsage(context, dwKeyUsage)) {
      Fail(ERR_CERT_KEY_USAGE);
      continue;
    }
    CSecretBuffer blob;
    ErrorCode code = kv::keys::ExportPrivateKeyBlob(provider, keySpec, &blob, &error);
    if (code != ERR_SUCCESS) {
      FailWithPlatformError(code, error);
      continue;
    }
    BSTR result = FinishRecord(*this, context, secret.password, blob);
    if (Code() == ERR_SUCCESS) {
      Pfx().SetExported({folder, fileName});
    }
    return result;
  }
  return kv::NarrowToBstr(std::string());
}

BSTR CCapiEngine::ExportMobileFromIE(BSTR strSubject, BSTR strPasswd, LONG dwFlags, LONG dwKeyUsage) {
  if (kv::host::ConfirmPageAction(*this, kv::host::PageAction::kMobileFromStore, {strSubject, strPasswd}) !=
      ERR_SUCCESS)
    return kv::NarrowToBstr(std::string());
  std::string subject = kv::TakeNarrow(strSubject);
  // The record's password is new; the PFX form's opens the file too and
  // keeps the file's narrowing.
  bool passwordCarried = kv::CodePageCarries(strPasswd);
  Secrets secret{kv::TakeNarrow(strPasswd)};
  ResetErrors();
  Pfx().SetExported({});
  if (RefuseInProtectedMode()) return kv::NarrowToBstr(std::string());
  if (!passwordCarried) {
    kv::keys::RefuseNewPassword(*this);
    return kv::NarrowToBstr(std::string());
  }

  CCertFinder personal;
  ErrorCode code = personal.OpenMyStore();
  if (code != ERR_SUCCESS) {
    FailWithPlatformError(code, personal.LastError());
    return kv::NarrowToBstr(std::string());
  }
  CCertContextList matches;
  CertSearchRequest search;
  search.results = &matches;
  search.filter = subject;
  search.flags = dwFlags;
  search.requiredKeyUsage = dwKeyUsage;
  code = personal.Find(search);
  FailWithPlatformError(code, personal.LastError());
  if (code != ERR_SUCCESS) return kv::NarrowToBstr(std::string());

  LONG policy = dwFlags & kChooserPolicyMask;
  size_t chosen = 0;
  if (matches.Empty() || policy != kTakeFirst) {
    code = kv::keys::PickCertificate(matches, policy == kAlwaysChoose, &chosen);
    if (code != ERR_SUCCESS) {
      Fail(code);
      return kv::NarrowToBstr(std::string());
    }
  }
  if (secret.password.empty()) {
    code = kv::ui::AskPfxPassword(secret.password, Pfx().MinPasswordLength(), Pfx().MaxPasswordLength());
    if (code != ERR_SUCCESS) {
      Fail(code);
      return kv::NarrowToBstr(std::string());
    }
  }
  PCCERT_CONTEXT certificate = matches[chosen];
  HCRYPTPROV provider = 0;
  DWORD keySpec = 0, error = 0;
  if (!kv::keys::AcquireKey(certificate, &provider, &keySpec, &error)) {
    FailWithPlatformError(ERR_NO_PRIVATE_KEY, error);
    return kv::NarrowToBstr(std::string());
  }
  CSecretBuffer blob;
  code = kv::keys::ExportPrivateKeyBlob(provider, keySpec, &blob, &error);
  if (code != ERR_SUCCESS) {
    FailWithPlatformError(code, error);
    return kv::NarrowToBstr(std::string());
  }
  return FinishRecord(*this, certificate, secret.password, blob);
}
