// Installing what the authority issued: the user certificate is matched to
// its PendingRequest record by public key, checked against its issuer's
// signature, bound to that key container and added to "MY"; only then do
// the authority certificates of a PKCS#7 bundle go to "ROOT" (self-issued)
// or "CA" (certificate signers), so that a refused acceptance writes nothing.
#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "cert/cert_info.h"
#include "codec/byte_buffer.h"
#include "kvseam/owned_handles.h"
#include "vocabulary/text.h"
#include "keys/accept_issuer.h"
#include "keys/cert_request_manager.h"
#include "keys/request_records.h"
#include "ui/root_store_dialog.h"

namespace {

// A name as CertNameToStrA writes it, at its full length so that two long
// names never compare equal by a shared truncated prefix.
std::string NameText(PCERT_NAME_BLOB name) {
  const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG;
  DWORD size = CertNameToStrA(kCertEncoding, name, type, nullptr, 0);
  if (size <= 1) return {};
  std::vector<char> text(size);
  CertNameToStrA(kCertEncoding, name, type, text.data(), size);
  return std::string(text.data());
}

void AddToSystemStore(const char* name, PCCERT_CONTEXT cert) {
  kv::OwnedStoreForced store(CertOpenSystemStoreA(0, name));
  // A store that cannot be opened or written is passed over: the user
  // certificate matters, its authorities are a convenience.
  if (store.get())
    CertAddCertificateContextToStore(store.get(), cert, CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES, nullptr);
}

std::vector<WCHAR> WideZ(const std::string& narrow) {
  std::u16string wide = kv::NarrowToWide(narrow);
  std::vector<WCHAR> out(wide.begin(), wide.end());
  out.push_back(0);
  return out;
}

}  // namespace

const char* CCertRequestManager::AuthorityStore(PCCERT_CONTEXT cert) {
  if (NameText(&cert->pCertInfo->Subject) == NameText(&cert->pCertInfo->Issuer)) return "ROOT";
  BYTE usage = 0;
  if (CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, &usage, 1) &&
      (usage & CERT_KEY_CERT_SIGN_KEY_USAGE))
    return "CA";
  return nullptr;
}

bool CCertRequestManager::InstallCaCertificate(PCCERT_CONTEXT cert) {
  const char* store = AuthorityStore(cert);
  if (!store) return false;
  AddToSystemStore(store, cert);
  return true;
}

bool CCertRequestManager::InstallUserCertificate(PCCERT_CONTEXT cert, const std::vector<PCCERT_CONTEXT>& delivered) {
  const CRYPT_BIT_BLOB& bits = cert->pCertInfo->SubjectPublicKeyInfo.PublicKey;
  DWORD size = 0;
  if (!CryptDecodeObject(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, bits.pbData, bits.cbData, 0, nullptr, &size)) {
    Fail(ERR_CERT_FORMAT, GetLastError());
    return false;
  }
  std::vector<BYTE> publicKey(size);
  if (!CryptDecodeObject(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, bits.pbData, bits.cbData, 0, publicKey.data(),
                         &size)) {
    Fail(ERR_CERT_FORMAT, GetLastError());
    return false;
  }
  publicKey.resize(size);

  kv::keys::PendingRequest record;
  DWORD error = 0;
  ErrorCode found = kv::keys::FindPendingRequest(m_registryBase, publicKey, &record, &error);
  if (found != ERR_SUCCESS) {
    Fail(found, error);
    return false;
  }
  // The key is ours; the certificate must also be its issuer's, or a
  // damaged or forged one would be installed and used to sign.
  ErrorCode issued = kv::keys::CheckIssuerSignature(cert, delivered, &error);
  if (issued != ERR_SUCCESS) {
    Fail(issued, error);
    return false;
  }

  std::vector<WCHAR> container = WideZ(record.containerName);
  std::vector<WCHAR> provider = WideZ(record.providerName);
  CRYPT_KEY_PROV_INFO provInfo{};
  provInfo.pwszContainerName = container.data();
  provInfo.pwszProvName = provider.data();
  provInfo.dwProvType = record.providerType;
  provInfo.dwKeySpec = record.keySpec;
  if (!CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &provInfo)) {
    Fail(ERR_MY_STORE_DENIED, GetLastError());
    return false;
  }
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, record.containerName.c_str(), record.providerName.c_str(), record.providerType,
                            0)) {
    Fail(ERR_CSP_ACQUIRE, GetLastError());
    return false;
  }
  kv::OwnedProvider owned(prov);
  CERT_KEY_CONTEXT keyContext{};
  keyContext.cbSize = sizeof keyContext;
  keyContext.hCryptProv = prov;
  keyContext.dwKeySpec = record.keySpec;
  if (!CertSetCertificateContextProperty(cert, CERT_KEY_CONTEXT_PROP_ID, 0, &keyContext)) {
    Fail(ERR_CSP_DENIED, GetLastError());
    return false;
  }
  // From here the context owns the provider handle and releases it with
  // itself; releasing it here as well would release it twice.
  owned.release();

  // A card or token keeps the certificate next to its key.
  if (record.providerName.find("Microsoft") == std::string::npos) {
    HCRYPTKEY key = 0;
    if (!CryptGetUserKey(prov, record.keySpec, &key)) {
      Fail(ERR_MY_STORE_DENIED, GetLastError());
      return false;
    }
    const kv::OwnedKey userKey(key);
    if (!CryptSetKeyParam(key, KP_CERTIFICATE, cert->pbCertEncoded, 0)) {
      Fail(ERR_CSP_DENIED, GetLastError());
      return false;
    }
  }

  kv::OwnedStoreForced my(CertOpenSystemStoreA(0, "MY"));
  if (!my) {
    Fail(ERR_OPEN_MY_STORE, GetLastError());
    return false;
  }
  PCCERT_CONTEXT added = nullptr;
  if (!CertAddCertificateContextToStore(my.get(), cert, CERT_STORE_ADD_ALWAYS, &added)) {
    Fail(ERR_MY_STORE_DENIED, GetLastError());
    return false;
  }
  const kv::OwnedCertificate addedHolder(added);
  CCertInfo info(added);
  std::vector<WCHAR> friendly = WideZ(info.GetSubjectCN());
  CRYPT_DATA_BLOB friendlyBlob{static_cast<DWORD>(friendly.size() * sizeof(WCHAR)),
                               reinterpret_cast<BYTE*>(friendly.data())};
  CertSetCertificateContextProperty(added, CERT_FRIENDLY_NAME_PROP_ID, 0, &friendlyBlob);
  return true;
}

ErrorCode CCertRequestManager::Accept(const std::string& text) {
  ClearError();
  if (!CanWriteRegistry()) {
    FailWithNotedError(ERR_ACCESS_DENIED);
    return Code();
  }
  if (text.empty()) {
    Fail(ERR_BAD_PARAM);
    return Code();
  }
  CByteBuffer bytes;
  if (!bytes.DecodeBase64(text.c_str())) {
    Fail(ERR_BASE64);
    return Code();
  }

  // Nothing is written until the user certificate is installed: the
  // bundle's authorities are only sorted out here.
  std::vector<BYTE> candidate;
  std::vector<kv::OwnedCertificate> decoded;  // frees what `delivered` lists
  std::vector<PCCERT_CONTEXT> delivered;
  std::vector<PCCERT_CONTEXT> authorities;
  kv::OwnedMessage msg(CryptMsgOpenToDecode(kCertEncoding, 0, 0, 0, nullptr, nullptr));
  if (msg.get() && CryptMsgUpdate(msg.get(), bytes.Data(), static_cast<DWORD>(bytes.Size()), TRUE)) {
    DWORD count = 0;
    DWORD size = sizeof count;
    if (!CryptMsgGetParam(msg.get(), CMSG_CERT_COUNT_PARAM, 0, &count, &size)) {
      Fail(ERR_CERT_FORMAT, GetLastError());
      return Code();
    }
    for (DWORD index = 0; index < count; ++index) {
      DWORD certSize = 0;
      if (!CryptMsgGetParam(msg.get(), CMSG_CERT_PARAM, index, nullptr, &certSize)) continue;
      std::vector<BYTE> encoded(certSize);
      if (!CryptMsgGetParam(msg.get(), CMSG_CERT_PARAM, index, encoded.data(), &certSize)) continue;
      encoded.resize(certSize);
      PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(), certSize);
      if (!cert) continue;
      decoded.emplace_back(cert);
      delivered.push_back(cert);
      // The last certificate that is not an authority is the user's.
      if (AuthorityStore(cert))
        authorities.push_back(cert);
      else
        candidate = std::move(encoded);
    }
    if (candidate.empty()) {
      Fail(ERR_NO_KEY);
      return Code();
    }
  } else {
    candidate.assign(bytes.Data(), bytes.Data() + bytes.Size());
  }

  kv::OwnedCertificate user(CertCreateCertificateContext(X509_ASN_ENCODING, candidate.data(),
                                                         static_cast<DWORD>(candidate.size())));
  if (!user) {
    Fail(ERR_CERT_FORMAT, GetLastError());
    return Code();
  }
  if (!InstallUserCertificate(user.get(), delivered)) return Code();
  // A new trusted root is the user's to allow (the system asks; a refused
  // one is passed over like any store that cannot be written).
  kv::ui::InstallRootStorePrompt();
  for (PCCERT_CONTEXT authority : authorities) InstallCaCertificate(authority);
  return Code();
}
