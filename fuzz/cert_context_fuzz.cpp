// Fuzz target: CertCreateCertificateContext on arbitrary bytes, then every
// reader that walks the decoded structure (names, key usage, properties).
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, data,
                                                    static_cast<DWORD>(size));
  if (!ctx) return 0;
  char text[256];
  CertNameToStrA(X509_ASN_ENCODING, &ctx->pCertInfo->Subject, CERT_X500_NAME_STR, text, sizeof text);
  CertNameToStrA(X509_ASN_ENCODING, &ctx->pCertInfo->Issuer,
                 CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG | CERT_NAME_STR_REVERSE_FLAG, text, sizeof text);
  CertGetNameStringA(ctx, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), text, sizeof text);
  CertGetNameStringA(ctx, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr, text, sizeof text);
  CertGetNameStringA(ctx, CERT_NAME_EMAIL_TYPE, 0, nullptr, text, sizeof text);
  BYTE usage[2];
  CertGetIntendedKeyUsage(X509_ASN_ENCODING, ctx->pCertInfo, usage, sizeof usage);
  CertVerifyTimeValidity(nullptr, ctx->pCertInfo);
  BYTE hash[20];
  DWORD n = sizeof hash;
  CertGetCertificateContextProperty(ctx, CERT_SHA1_HASH_PROP_ID, hash, &n);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  CertAddCertificateContextToStore(store, ctx, CERT_STORE_ADD_ALWAYS, nullptr);
  CertCloseStore(store, 0);
  CertFreeCertificateContext(ctx);
  return 0;
}
