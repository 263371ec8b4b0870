// ExportPfxFromIE: a personal-store certificate with its private key (and,
// when asked, its trusted chain) written to a PFX file under a password,
// optionally removed from the store afterwards (a removal that fails is
// reported, the written file kept). The file is replaced
// atomically: a failed write never leaves a half-written PFX behind.
#include <shlwapi.h>
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>

#include "cert/cert_finder.h"
#include "codec/byte_buffer.h"
#include "engine/capi_engine.h"
#include "keys/pfx_settings.h"
#include "kvseam/owned_handles.h"
#include "vocabulary/text.h"
#include "host/page_action_guard.h"
#include "keys/pfx_common.h"
#include "keys/pfx_file_name.h"
#include "ui/dialog_launch.h"

namespace {

constexpr char kPfxExtension[] = ".pfx";

// The name of the exported file: the preset name (with ".pfx" unless it
// already holds it, in any letter case), or the subject's common name made
// fit for a file name.
std::string ExportFileName(const std::string& preset, PCCERT_CONTEXT chosen) {
  if (preset.empty()) return kv::keys::CommonNameFileStem(chosen) + kPfxExtension;
  std::string lower = preset;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return lower.find(kPfxExtension) != std::string::npos ? preset : preset + kPfxExtension;
}

bool SameEncoding(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
  return a->cbCertEncoded == b->cbCertEncoded && memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

// Adds the chain of `leaf` to `target` as links when it builds and is
// trusted; returns the links added. The leaf itself is already in `target`
// with its key: linking it again would put the certificate (and its key)
// into the file twice. An untrusted chain is not an error: the file then
// holds the certificate alone.
int AddTrustedChain(PCCERT_CONTEXT leaf, HCERTSTORE personal, HCERTSTORE target) {
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, leaf, nullptr, personal, &para, 0, nullptr, &chain)) return 0;
  int added = 0;
  if (chain->TrustStatus.dwErrorStatus == 0 && chain->cChain > 0) {
    PCERT_SIMPLE_CHAIN simple = chain->rgpChain[0];
    for (DWORD i = 0; i < simple->cElement; ++i) {
      PCCERT_CONTEXT element = simple->rgpElement[i]->pCertContext;
      if (SameEncoding(element, leaf)) continue;
      if (CertAddCertificateLinkToStore(target, element, CERT_STORE_ADD_ALWAYS, nullptr)) ++added;
    }
  }
  CertFreeCertificateChain(chain);
  return added;
}

// Creates the export folder (one level) when it does not exist.
bool EnsureFolder(const std::string& folder) {
  DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return CreateDirectoryA(folder.c_str(), nullptr) != FALSE;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
  SetLastError(ERROR_DIRECTORY);
  return false;
}

class PfxExport {
 public:
  PfxExport(CCapiEngine& engine, std::string subject, std::string folder, std::string password, LONG flags,
            LONG keyUsage)
      : e_(engine),
        subject_(std::move(subject)),
        folder_(std::move(folder)),
        password_(std::move(password)),
        flags_(flags),
        keyUsage_(keyUsage) {}
  ~PfxExport() {
    SecureZeroMemory(&password_[0], password_.size());
  }

  ErrorCode Run();

 private:
  ErrorCode Choose(PCCERT_CONTEXT* chosen);
  ErrorCode CollectCertificates(PCCERT_CONTEXT chosen, int* added);
  ErrorCode BuildImage(DWORD exportFlags, CByteBuffer* image);

  CCapiEngine& e_;
  std::string subject_, folder_, password_;
  LONG flags_, keyUsage_;
  CCertFinder personal_;
  CCertFinder memory_;
  CCertContextList matches_;
  kv::OwnedCertificate exported_;  // the personal-store copy that went into the file
};

ErrorCode PfxExport::Choose(PCCERT_CONTEXT* chosen) {
  CertSearchRequest search;
  search.results = &matches_;
  search.filter = subject_;
  search.flags = flags_;
  search.requiredKeyUsage = keyUsage_;
  ErrorCode code = personal_.Find(search);
  if (code != ERR_SUCCESS) {
    e_.FailWithPlatformError(code, personal_.LastError());
    return code;
  }
  size_t index = 0;
  code = kv::keys::PickCertificate(matches_, false, &index);
  if (code != ERR_SUCCESS) {
    e_.Fail(code);
    return code;
  }
  *chosen = matches_[index];
  return ERR_SUCCESS;
}

ErrorCode PfxExport::CollectCertificates(PCCERT_CONTEXT chosen, int* added) {
  ErrorCode code = memory_.OpenMemoryStore();
  if (code != ERR_SUCCESS) {
    e_.FailWithPlatformError(code, memory_.LastError());
    return code;
  }
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(personal_.Store(), context)) != nullptr) {
    if (!SameEncoding(context, chosen)) continue;
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE provider = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(context, 0, nullptr, &provider, &keySpec, &callerFree)) continue;
    // Only a test that the key is there.
    kv::OwnedProvider(callerFree ? static_cast<HCRYPTPROV>(provider) : 0).reset();
    if (!CertAddCertificateContextToStore(memory_.Store(), context, CERT_STORE_ADD_ALWAYS, nullptr)) {
      e_.FailWithPlatformError(ERR_MY_STORE_DENIED, GetLastError());
      continue;
    }
    if (!exported_) exported_.reset(CertDuplicateCertificateContext(context));
    ++*added;
  }
  if (*added == 0) {
    e_.Fail(ERR_CERT_NOT_FOUND);
    return ERR_CERT_NOT_FOUND;
  }
  return ERR_SUCCESS;
}

ErrorCode PfxExport::BuildImage(DWORD exportFlags, CByteBuffer* image) {
  std::u16string wide = kv::NarrowToWide(password_);
  LPCWSTR password = reinterpret_cast<LPCWSTR>(wide.c_str());
  CRYPT_DATA_BLOB blob = {0, nullptr};
  ErrorCode code = ERR_SUCCESS;
  if (!PFXExportCertStore(memory_.Store(), &blob, password, exportFlags)) {
    e_.FailWithLastError(ERR_KEY_NOT_EXPORTABLE);
    code = ERR_KEY_NOT_EXPORTABLE;
  } else if (!image->Allocate(static_cast<int32_t>(blob.cbData))) {
    e_.Fail(ERR_PFX_FILE_WRITE);
    code = ERR_PFX_FILE_WRITE;
  } else {
    blob.pbData = image->Data();
    if (!PFXExportCertStore(memory_.Store(), &blob, password, exportFlags)) {
      DWORD error = GetLastError();
      code = error == ERROR_CANCELLED ? ERR_USER_CANCEL : ERR_KEY_NOT_EXPORTABLE;
      e_.FailWithPlatformError(code, error);
    }
  }
  SecureZeroMemory(&wide[0], wide.size() * sizeof(char16_t));
  return code;
}

ErrorCode PfxExport::Run() {
  ErrorCode code = personal_.OpenMyStore();
  if (code != ERR_SUCCESS) {
    e_.FailWithPlatformError(code, personal_.LastError());
    return code;
  }
  PCCERT_CONTEXT chosen = nullptr;
  if ((code = Choose(&chosen)) != ERR_SUCCESS) return code;
  std::string fileName = ExportFileName(e_.Pfx().DefaultPrefix(), chosen);

  int added = 0;
  if ((code = CollectCertificates(chosen, &added)) != ERR_SUCCESS) return code;
  int links = (flags_ & kv::keys::kExportWithChain)
                  ? AddTrustedChain(exported_.get(), personal_.Store(), memory_.Store())
                  : 0;

  if (folder_.empty() || password_.empty()) {
    const kv::keys::PfxSettings& pfx = e_.Pfx();
    code = kv::ui::AskExportPfx(folder_, fileName, password_, pfx.MinPasswordLength(), pfx.MaxPasswordLength());
    if (code != ERR_SUCCESS) {
      e_.Fail(code);
      return code;
    }
  }

  // A lone certificate must take its key along; chain links have none.
  DWORD exportFlags = kv::keys::kPfxExportKeys | (links == 0 ? REPORT_NO_PRIVATE_KEY : 0);
  CByteBuffer image;
  if ((code = BuildImage(exportFlags, &image)) != ERR_SUCCESS) return code;

  if (!EnsureFolder(folder_)) {
    e_.FailWithLastError(ERR_DIR_CREATE);
    return ERR_DIR_CREATE;
  }
  // An existing file of that name is replaced without asking, but only ever
  // by a complete image.
  if (!image.SaveToFileAtomically(kv::keys::PfxFullName(folder_, fileName))) {
    e_.FailWithLastError(ERR_PFX_FILE_WRITE);
    return ERR_PFX_FILE_WRITE;
  }
  // The file is complete from here on: a deletion that fails leaves it
  // written and named by the getters, and the certificate in the store, so
  // nothing is lost and the caller learns that the key is still there.
  e_.Pfx().SetExported({folder_, fileName});
  if (flags_ & kv::keys::kExportThenDelete) {
    // The call frees the context it is given, whatever its outcome.
    BOOL deleted = CertDeleteCertificateFromStore(exported_.release());
    DWORD error = deleted ? 0 : GetLastError();
    if (!deleted) {
      e_.FailWithPlatformError(ERR_CERT_DELETE, error);
      return ERR_CERT_DELETE;
    }
  }
  e_.ResetErrors();
  return ERR_SUCCESS;
}

}  // namespace

LONG CCapiEngine::ExportPfxFromIE(BSTR strSubject, BSTR strPfxPath, BSTR strPassword, LONG dwFlags,
                                  LONG dwKeyUsage) {
  bool passwordCarried = kv::CodePageCarries(strPassword);
  if (ErrorCode refused = kv::host::ConfirmPageAction(*this, kv::host::PageAction::kExportPfx,
                                                      {strSubject, strPfxPath, strPassword}, dwFlags))
    return refused;
  PfxExport run(*this, kv::TakeNarrow(strSubject), kv::TakeNarrow(strPfxPath), kv::TakeNarrow(strPassword), dwFlags,
                dwKeyUsage);
  ResetErrors();
  Pfx().SetExported({});
  if (RefuseInProtectedMode()) return Code();
  if (!passwordCarried) return kv::keys::RefuseNewPassword(*this);
  return run.Run();
}
