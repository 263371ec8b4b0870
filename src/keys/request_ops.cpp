// The enrolment operations of the engine: SetProviderName, CreatePKCS10,
// CreatePKCS10Pair, GetCsrForSign, GetCsrForEncrypt and AcceptPKCS7. The
// work is the request manager's; these take the caller's arguments, apply
// the shared entry rules and carry the manager's outcome into the engine's
// error state.
#include <windows.h>

#include <string>

#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "host/page_action_guard.h"
#include "keys/cert_request_manager.h"

namespace {

// The folder under "Software\VELK\" this component keeps its records in.
constexpr char kRecordsFolder[] = "Korvessa";

// The caller's text as UTF-16, kept whole for the request's BMPString name;
// the argument is freed.
std::u16string TakeWide(BSTR arg) {
  std::u16string text;
  if (arg) text.assign(reinterpret_cast<const char16_t*>(arg), SysStringLen(arg));
  SysFreeString(arg);
  return text;
}

void TakeOutcome(CCapiEngine& engine, const CCertRequestManager& manager) {
  if (manager.Code() != ERR_SUCCESS) engine.FailWithPlatformError(manager.Code(), manager.PlatformError());
}

}  // namespace

LONG CCapiEngine::SetProviderName(BSTR strProviderName) {
  ResetErrors();
  std::string name = kv::TakeNarrow(strProviderName);
  if (name.empty()) {
    Fail(ERR_BAD_PARAM);
    return Code();
  }
  if (RefuseInProtectedMode()) return Code();
  Requests().ChooseProvider(name);
  TakeOutcome(*this, Requests());
  return Code();
}

namespace {

// Entry steps shared by the two request operations; false when the
// operation ends here with its error already set.
bool PrepareRequestCall(CCapiEngine& engine, const std::u16string& commonName, LONG keyBits, LONG genKeyFlags) {
  engine.ResetErrors();
  engine.Requests().ClearRequestTexts();
  if (commonName.empty()) {
    engine.Fail(ERR_BAD_PARAM);
    return false;
  }
  if (engine.RefuseInProtectedMode()) return false;
  CCertRequestManager& manager = engine.Requests();
  manager.SetRegistryBase(kRecordsFolder);
  if (manager.SetKeyBits(keyBits) != ERR_SUCCESS) {
    engine.Fail(ERR_KEY_LENGTH);
    return false;
  }
  manager.SetKeyFlagsMode(genKeyFlags);
  manager.ClearError();
  manager.SetKeySpec(AT_KEYEXCHANGE);
  return true;
}

}  // namespace

BSTR CCapiEngine::CreatePKCS10(BSTR commonName, LONG keyBits, LONG genKeyFlags) {
  if (kv::host::ConfirmPageAction(*this, kv::host::PageAction::kCreateKey, {commonName}) != ERR_SUCCESS)
    return kv::NarrowToBstr(std::string());
  std::u16string name = TakeWide(commonName);
  if (!PrepareRequestCall(*this, name, keyBits, genKeyFlags)) return kv::NarrowToBstr(std::string());
  std::string text = Requests().CreateRequest(name);
  TakeOutcome(*this, Requests());
  return kv::NarrowToBstr(text);
}

LONG CCapiEngine::CreatePKCS10Pair(BSTR commonName, LONG keyBits, LONG genKeyFlags) {
  if (ErrorCode refused = kv::host::ConfirmPageAction(*this, kv::host::PageAction::kCreateKey, {commonName}))
    return refused;
  std::u16string name = TakeWide(commonName);
  if (!PrepareRequestCall(*this, name, keyBits, genKeyFlags)) return Code();
  Requests().CreateRequestPair(name);
  TakeOutcome(*this, Requests());
  return Code();
}

BSTR CCapiEngine::GetCsrForSign() { return kv::NarrowToBstr(Requests().CsrForSign()); }

BSTR CCapiEngine::GetCsrForEncrypt() { return kv::NarrowToBstr(Requests().CsrForEncrypt()); }

LONG CCapiEngine::AcceptPKCS7(BSTR strPkcs7) {
  if (ErrorCode refused = kv::host::ConfirmPageAction(*this, kv::host::PageAction::kInstallCertificates, {strPkcs7}))
    return refused;
  ResetErrors();
  std::string text = kv::TakeNarrow(strPkcs7);
  if (text.empty()) {
    Fail(ERR_BAD_PARAM);
    return Code();
  }
  if (RefuseInProtectedMode()) return Code();
  Requests().SetRegistryBase(kRecordsFolder);
  Requests().Accept(text);
  TakeOutcome(*this, Requests());
  return Code();
}
