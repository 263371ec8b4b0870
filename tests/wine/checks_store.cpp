// Certificates whose keys live in Wine's own provider (a key imported from
// a PFX cannot sign under Wine): a CA key signs end-entity certificates,
// each added to "MY" with its key's provider information. Then store
// browsing, signer selection and signing through the DLL; the signatures go
// to the output folder for OpenSSL.
#include "checks.h"

#include <wincrypt.h>

#include <vector>

namespace wine_test {
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

const wchar_t* kIssuer = L"CN=Korvessa Wine CA, O=Korvessa Wine, C=TW";

}  // namespace

// Adds an end-entity certificate with a fresh Wine key to "MY".
bool AddSignerToMy(const std::wstring& container, const wchar_t* subject, BYTE serial, std::wstring* fingerprint) {
  static Key ca;
  if (!ca.prov && !MakeKey(L"korvessa-wine-ca", &ca)) return false;
  Key key;
  if (!MakeKey(container, &key)) return false;
  PCCERT_CONTEXT cert = Issue(key, subject, ca, kIssuer, serial);
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

void CheckStore(Library& k, Report& r) {
  r.Equal(k.Number("GetIECertCount"), 0, "a fresh prefix has no personal certificate");
  std::wstring finger;
  if (!r.Check(AddSignerToMy(L"korvessa-wine-signer", L"CN=王小明", 0x33, &finger),
               "certificate with a Wine-generated key added to MY", std::to_wstring(GetLastError())))
    return;
  r.Equal(k.Number("GetIECertCount"), 1, "GetIECertCount");
  r.Equal(k.Text("GetIECertCommonName", 1L), L"王小明", "GetIECertCommonName");
  r.Equal(k.Text("GetIECertSerial", 1L), L"01174233", "GetIECertSerial, most significant byte first");
  r.Equal(k.Text("GetIECertFinger", 1L), finger, "GetIECertFinger is the SHA-1 thumbprint");
  r.Equal(k.Text("GetIECertIssuer", 1L), kIssuer, "GetIECertIssuer");
  r.Equal(k.Text("GetIECertSubject", 1L), L"CN=王小明", "GetIECertSubject");
  // The snapshot counts from 1.
  r.Equal(k.Text("GetIECertSerial", 0L), L"", "index 0 is empty");
  r.Equal(k.Text("GetIECertSerial", 2L), L"", "index past the end is empty");

  r.Equal(k.Number("SelectSigner", L"S_CN=王小明", 0x100L, 0L), 0, "SelectSigner from MY");
  r.Equal(k.Text("GetCertSubjectCN"), L"王小明", "GetCertSubjectCN of the signer");
  r.Equal(k.Text("GetCertFinger"), finger, "GetCertFinger of the signer");
  WriteOutput(L"signer.b64", Utf8(k.Text("GetCertB64")));

  const wchar_t* content = L"交易內容：買進 2330 一張";
  std::wstring pkcs1 = k.Text("SignPkcs1", content, 0x900L);
  r.Check(!pkcs1.empty() && k.Error() == 0, "SignPkcs1 (ANSI content, SHA-1, Base64)",
          k.Message() + L" capi " + std::to_wstring(k.CapiError()));
  WriteOutput(L"pkcs1-ansi.b64", Utf8(pkcs1));
  std::wstring pkcs1Wide = k.Text("SignPkcs1", content, 0x100L);
  r.Check(!pkcs1Wide.empty() && k.Error() == 0, "SignPkcs1 (UTF-16 content)", k.Message());
  WriteOutput(L"pkcs1-utf16.b64", Utf8(pkcs1Wide));
  std::wstring pkcs7 = k.Text("SignPkcs7", content, 0x800L);
  r.Check(!pkcs7.empty() && k.Error() == 0, "SignPkcs7 (ANSI content, attached)",
          k.Message() + L" capi " + std::to_wstring(k.CapiError()));
  WriteOutput(L"pkcs7-ansi.b64", Utf8(pkcs7));
  std::wstring pkcs7Attrs = k.Text("SignPkcs7", content, 0x2000L);
  r.Check(!pkcs7Attrs.empty() && k.Error() == 0, "SignPkcs7 (UTF-16 content, signed attributes)", k.Message());
  WriteOutput(L"pkcs7-utf16-attrs.b64", Utf8(pkcs7Attrs));
}

}  // namespace wine_test
