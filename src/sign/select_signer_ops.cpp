// Signer selection: the personal store route with the chooser policy, the
// PFX route with its dialog rules, and the cached signer of SelectSignerEx2.
#include <shlwapi.h>
#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "cert/cert_finder.h"
#include "cert/cert_info.h"
#include "cert/pfx_file.h"
#include "engine/capi_engine.h"
#include "keys/pfx_settings.h"
#include "kvseam/owned_handles.h"
#include "vocabulary/text.h"
#include "sign/compare_date.h"
#include "sign/signer_cache.h"
#include "sign/signer_record.h"
#include "ui/dialog_launch.h"

namespace {

using kv::sign::JoinPfxPath;

enum class Variant { Basic, Ex, Ex2 };

struct SelectionRequest {
  Variant variant = Variant::Basic;
  std::string filter;
  std::string pfxPath;
  std::string pfxName;
  std::string password;
  std::string compareDate;
  LONG port = 0;
  LONG flags = 0;
  LONG keyUsage = 0;
};

constexpr LONG kChooserPolicyMask = 0x3;
constexpr LONG kAlwaysChoose = 1;
constexpr LONG kTakeBest = 2;
constexpr LONG kSourceStoreBit = 0x100;
constexpr LONG kSourcePfxBit = 0x200;
constexpr LONG kDefaultSourceMask = 3;

class Selection {
 public:
  Selection(CCapiEngine& engine, SelectionRequest& request) : e_(engine), r_(request) {}
  ErrorCode Run();

 private:
  bool TryCachedSigner();
  // Returns true when the operation ends (a signer was chosen or the route
  // ended it); `code` holds the store route's code either way.
  bool StoreRoute(ErrorCode* code);
  ErrorCode PfxRoute(ErrorCode storeCode, LONG mask);
  ErrorCode AccessDeniedOr(ErrorCode code) const {
    return e_.PlatformError() == static_cast<DWORD>(NTE_PERM) ? ERR_ACCESS_DENIED : code;
  }
  std::vector<CertChooserRow> ChooserRows(const CCertContextList& list) const;
  // The request's filter, flags, key usage and date, both routes search by.
  CertSearchRequest SearchInto(CCertContextList* results) {
    CertSearchRequest search;
    search.results = results;
    search.filter = r_.filter;
    search.flags = r_.flags;
    search.requiredKeyUsage = r_.keyUsage;
    search.compareTime = haveCompareTime_ ? &compareTime_ : nullptr;
    return search;
  }

  CCapiEngine& e_;
  SelectionRequest& r_;
  FILETIME compareTime_ = {};
  bool haveCompareTime_ = false;
};

bool Selection::TryCachedSigner() {
  CSignerCache cache(e_);
  CByteBuffer cachedBytes;
  if (!cache.ReadBytes(kSignerCertBytesKey, cachedBytes)) return false;
  LONG media = cache.ReadInt(kSignerMediaKey);
  std::string hash = cache.ReadString(kSignerCertHashKey);
  std::string password, path, name;

  std::unique_ptr<CCertFinder> store;
  if (media == kv::sign::kSourceStore) {
    store = std::make_unique<CCertFinder>();
    if (store->OpenMyStore() != ERR_SUCCESS) return false;
  } else {
    password = cache.ReadString(kSignerCertPasswdKey);
    path = cache.ReadString(kSignerCertFilePathKey);
    name = cache.ReadString(kSignerCertFileNameKey);
    std::string full = JoinPfxPath(path, name);
    if (!PathFileExistsA(full.c_str())) return false;
    auto pfx = std::make_unique<CPfxFile>();
    if (pfx->Load(full, password, 1) != ERR_SUCCESS) return false;
    store = std::move(pfx);
  }

  kv::OwnedCertificate cursor;
  while (kv::NextCertificate(store->Store(), &cursor)) {
    PCCERT_CONTEXT context = cursor.get();
    if (CCertInfo(context).GetFingerprint() != hash) continue;
    e_.ResetErrors();
    kv::sign::SignerState& signer = e_.Signer();
    signer.SetSource(media);
    signer.SetFingerprint(hash);
    signer.SetPfxPassword(password);
    signer.SetPfxFile(path, name);
    return signer.SetCertificate(context->pbCertEncoded, static_cast<int32_t>(context->cbCertEncoded));
  }
  return false;
}

std::vector<CertChooserRow> Selection::ChooserRows(const CCertContextList& list) const {
  std::vector<CertChooserRow> rows;
  for (size_t i = 0; i < list.Count(); ++i) {
    CCertInfo info(list[i]);
    rows.push_back(kv::ui::MakeChooserRow(info.GetSubjectCN(), info.GetSubject(), info.GetSerial(),
                                          info.GetNotBeforeDate(), info.GetNotAfterDate(), info.GetIssuerCN(),
                                          info.GetIssuer(), list[i]->pbCertEncoded, list[i]->cbCertEncoded));
  }
  return rows;
}

bool Selection::StoreRoute(ErrorCode* code) {
  CCertFinder finder;
  *code = finder.OpenMyStore();
  if (*code != ERR_SUCCESS) {
    // Not the operation's failure yet: the PFX route may follow.
    e_.NotePlatformError(finder.LastError());
    return false;
  }
  CCertContextList results;
  CertSearchRequest search = SearchInto(&results);
  *code = finder.Find(search);
  e_.NotePlatformError(finder.LastError());
  if (*code != ERR_SUCCESS || results.Empty()) return false;

  LONG policy = r_.flags & kChooserPolicyMask;
  int chosen = -1;
  if (policy == kTakeBest || (policy != kAlwaysChoose && results.Count() == 1)) {
    chosen = 0;
  } else if (kv::ui::ChooseCertificate(ChooserRows(results), &chosen) != ERR_SUCCESS ||
             chosen < 0 || static_cast<size_t>(chosen) >= results.Count()) {
    // Cancelling the chooser is not an error: the PFX route may follow.
    *code = ERR_SUCCESS;
    return false;
  }
  e_.Signer().SetSource(kv::sign::kSourceStore);
  if (!e_.Signer().RecordCertificate(results[static_cast<size_t>(chosen)])) {
    e_.Signer().Forget();
    *code = ERR_MEM_ALLOC;
    return true;
  }
  if (r_.variant == Variant::Ex2) CSignerCache(e_).SaveSigner();
  return true;
}

ErrorCode Selection::PfxRoute(ErrorCode storeCode, LONG mask) {
  if (e_.PlatformError() == static_cast<DWORD>(NTE_PERM)) return ERR_ACCESS_DENIED;

  std::string folder = r_.variant == Variant::Basic ? std::string() : r_.pfxPath;
  std::string name = r_.variant == Variant::Basic ? std::string() : r_.pfxName;
  std::string password = r_.variant == Variant::Ex ? r_.password : std::string();
  bool fileExists = false;
  if (r_.variant != Variant::Basic && !folder.empty() && !name.empty())
    fileExists = PathFileExistsA(JoinPfxPath(folder, name).c_str()) != FALSE;
  if (!(mask & 2) && !fileExists) return AccessDeniedOr(storeCode);

  bool ask = r_.variant != Variant::Ex || !fileExists || password.empty();
  if (ask) {
    const kv::keys::PfxSettings& pfx = e_.Pfx();
    ErrorCode asked = kv::ui::AskPfxFile(folder, name, password, pfx.MinPasswordLength(), pfx.MaxPasswordLength());
    if (asked != ERR_SUCCESS) return asked;
  }
  std::string full = JoinPfxPath(folder, name);

  CPfxFile pfx;
  ErrorCode code = pfx.Load(full, password, 1);
  e_.NotePlatformError(pfx.LastError());
  if (code != ERR_SUCCESS) return AccessDeniedOr(code);

  CCertContextList results;
  CertSearchRequest search = SearchInto(&results);
  code = pfx.Find(search);
  e_.NotePlatformError(pfx.LastError());
  if (code != ERR_SUCCESS) return code;
  if (results.Empty()) return ERR_CERT_NOT_FOUND;

  kv::sign::SignerState& signer = e_.Signer();
  signer.SetSource(kv::sign::kSourcePfx);
  signer.SetPfxFile(folder, name);
  signer.SetPfxPassword(password);
  if (!signer.RecordCertificate(results[0])) {
    signer.Forget();
    return ERR_MEM_ALLOC;
  }
  if (r_.variant == Variant::Ex2) {
    e_.ResetErrors();
    CSignerCache(e_).SaveSigner();
  }
  return AccessDeniedOr(ERR_SUCCESS);
}

ErrorCode Selection::Run() {
  e_.ResetErrors();
  e_.Signer().Forget();
  if (e_.RefuseInProtectedMode()) return ERR_IE_PROTECTED_MODE;
  if (r_.variant == Variant::Ex2) CSignerCache(e_).Area();

  if (r_.variant != Variant::Basic && !r_.compareDate.empty()) {
    if (!kv::sign::ParseCompareDate(r_.compareDate, &compareTime_)) return ERR_BAD_PARAM;
    haveCompareTime_ = true;
    r_.flags |= kFindCheckValidity;
  }

  if (r_.variant == Variant::Ex2 && r_.port > 0 && TryCachedSigner()) return ERR_SUCCESS;

  LONG mask = (r_.flags & (kSourceStoreBit | kSourcePfxBit)) ? (r_.flags >> 8) & 3 : kDefaultSourceMask;
  ErrorCode storeCode = ERR_SUCCESS;
  if ((mask & 1) && StoreRoute(&storeCode)) return storeCode;
  return PfxRoute(storeCode, mask);
}

LONG RunSelection(CCapiEngine& engine, SelectionRequest& request) {
  ErrorCode code = Selection(engine, request).Run();
  engine.Finish(code);
  return code;
}

// Takes the operation's text arguments (each freed here) into a request.
SelectionRequest MakeRequest(Variant variant, BSTR filter, BSTR pfxPath, BSTR pfxName, BSTR compareDate,
                             LONG flags, LONG keyUsage) {
  SelectionRequest request;
  request.variant = variant;
  request.filter = kv::TakeNarrow(filter);
  request.pfxPath = kv::TakeNarrow(pfxPath);
  request.pfxName = kv::TakeNarrow(pfxName);
  request.compareDate = kv::TakeNarrow(compareDate);
  request.flags = flags;
  request.keyUsage = keyUsage;
  return request;
}

}  // namespace

LONG CCapiEngine::SelectSigner(BSTR certFilter, LONG dwFlags, LONG dwKeyUsage) {
  SelectionRequest request = MakeRequest(Variant::Basic, certFilter, nullptr, nullptr, nullptr, dwFlags, dwKeyUsage);
  return RunSelection(*this, request);
}

LONG CCapiEngine::SelectSignerEx(BSTR certFilter, BSTR strPfxPath, BSTR strPfxName, BSTR strPasswd,
                                 BSTR strCompareDate, LONG dwFlags, LONG dwKeyUsage) {
  SelectionRequest request =
      MakeRequest(Variant::Ex, certFilter, strPfxPath, strPfxName, strCompareDate, dwFlags, dwKeyUsage);
  request.password = kv::TakeNarrow(strPasswd);
  return RunSelection(*this, request);
}

LONG CCapiEngine::SelectSignerEx2(BSTR certFilter, BSTR strPfxPath, BSTR strPfxName, LONG dwPort,
                                  BSTR strCompareDate, LONG dwFlags, LONG dwKeyUsage) {
  SelectionRequest request =
      MakeRequest(Variant::Ex2, certFilter, strPfxPath, strPfxName, strCompareDate, dwFlags, dwKeyUsage);
  request.port = dwPort;
  return RunSelection(*this, request);
}

BSTR CCapiEngine::GetSignerPfxFilePath() { return kv::NarrowToBstr(Signer().PfxPath()); }
BSTR CCapiEngine::GetSignerPfxFileName() { return kv::NarrowToBstr(Signer().PfxName()); }
