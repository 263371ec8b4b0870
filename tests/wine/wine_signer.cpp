// Certificates issued by a CA key of Wine's provider to fresh Wine keys, put
// into "MY" with the link to their keys (see wine_signer.h).
#include "wine_signer.h"

#include <wincrypt.h>

#include <vector>

#include "host_support.h"

namespace wine_test {

const wchar_t kWineCaName[] = L"CN=Korvessa Wine CA, O=Korvessa Wine, C=TW";

namespace {

struct Key {
  std::wstring container;
  HCRYPTPROV prov = 0;
};

bool MakeKey(const std::wstring& container, Key* key) {
  HCRYPTPROV stale;
  CryptAcquireContextW(&stale, container.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
  key->container = container;
  if (!CryptAcquireContextW(&key->prov, container.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET))
    return false;
  HCRYPTKEY pair;
  if (!CryptGenKey(key->prov, AT_SIGNATURE, (2048u << 16) | CRYPT_EXPORTABLE, &pair)) return false;
  CryptDestroyKey(pair);
  return true;
}

std::vector<BYTE> EncodeName(const wchar_t* x500) {
  DWORD n = 0;
  CertStrToNameW(X509_ASN_ENCODING, x500, CERT_X500_NAME_STR, nullptr, nullptr, &n, nullptr);
  std::vector<BYTE> name(n);
  if (!n || !CertStrToNameW(X509_ASN_ENCODING, x500, CERT_X500_NAME_STR, nullptr, name.data(), &n, nullptr)) return {};
  name.resize(n);
  return name;
}

// A certificate of `subject`'s key signed by `issuerKey`, valid from a day
// ago for two years.
PCCERT_CONTEXT Issue(const Key& subjectKey, const wchar_t* subject, const Key& issuerKey, const wchar_t* issuer,
                     BYTE serial) {
  std::vector<BYTE> subjectName = EncodeName(subject), issuerName = EncodeName(issuer);
  DWORD n = 0;
  CryptExportPublicKeyInfo(subjectKey.prov, AT_SIGNATURE, X509_ASN_ENCODING, nullptr, &n);
  std::vector<BYTE> publicKey(n);
  if (!n || !CryptExportPublicKeyInfo(subjectKey.prov, AT_SIGNATURE, X509_ASN_ENCODING,
                                      reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(publicKey.data()), &n))
    return nullptr;
  BYTE serialBytes[4] = {serial, 0x42, 0x17, 0x01};  // least significant first
  CERT_INFO info = {};
  info.dwVersion = CERT_V3;
  info.SerialNumber = {sizeof serialBytes, serialBytes};
  info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA1RSA);
  info.Issuer = {static_cast<DWORD>(issuerName.size()), issuerName.data()};
  info.Subject = {static_cast<DWORD>(subjectName.size()), subjectName.data()};
  info.SubjectPublicKeyInfo = *reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(publicKey.data());
  SYSTEMTIME now;
  GetSystemTime(&now);
  ULARGE_INTEGER t;
  FILETIME ft;
  SystemTimeToFileTime(&now, &ft);
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  ULONGLONG day = 24ull * 3600 * 10000000;
  ULARGE_INTEGER from, to;
  from.QuadPart = t.QuadPart - day;
  to.QuadPart = t.QuadPart + 730 * day;
  info.NotBefore = {from.LowPart, from.HighPart};
  info.NotAfter = {to.LowPart, to.HighPart};
  CRYPT_ALGORITHM_IDENTIFIER algorithm = {const_cast<char*>(szOID_RSA_SHA1RSA), {0, nullptr}};
  n = 0;
  CryptSignAndEncodeCertificate(issuerKey.prov, AT_SIGNATURE, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info,
                                &algorithm, nullptr, nullptr, &n);
  std::vector<BYTE> der(n);
  if (!n || !CryptSignAndEncodeCertificate(issuerKey.prov, AT_SIGNATURE, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED,
                                           &info, &algorithm, nullptr, der.data(), &n))
    return nullptr;
  return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), n);
}

}  // namespace

// Adds an end-entity certificate with a fresh Wine key to "MY".
bool AddSignerToMy(const std::wstring& container, const wchar_t* subject, BYTE serial, std::wstring* fingerprint) {
  static Key ca;
  if (!ca.prov && !MakeKey(L"korvessa-wine-ca", &ca)) return false;
  Key key;
  if (!MakeKey(container, &key)) return false;
  PCCERT_CONTEXT cert = Issue(key, subject, ca, kWineCaName, serial);
  if (!cert) return false;
  CRYPT_KEY_PROV_INFO prov = {};
  prov.pwszContainerName = const_cast<wchar_t*>(key.container.c_str());
  prov.pwszProvName = const_cast<wchar_t*>(MS_ENHANCED_PROV_W);
  prov.dwProvType = PROV_RSA_FULL;
  prov.dwKeySpec = AT_SIGNATURE;
  HCERTSTORE my = CertOpenSystemStoreW(0, L"MY");
  bool ok = my && CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &prov) &&
            CertAddCertificateContextToStore(my, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  BYTE hash[20];
  DWORD n = sizeof hash;
  if (ok && fingerprint && CryptHashCertificate(0, CALG_SHA1, 0, cert->pbCertEncoded, cert->cbCertEncoded, hash, &n))
    *fingerprint = Hex(hash, n);
  if (my) CertCloseStore(my, 0);
  CertFreeCertificateContext(cert);
  CryptReleaseContext(key.prov, 0);
  return ok;
}

}  // namespace wine_test
