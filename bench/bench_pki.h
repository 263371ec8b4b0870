// Certificates and strings the benchmarks build their fixtures from: a
// certificate of a given key, issued by another (or self-signed), and the
// engine's string arguments from plain ASCII.
#pragma once

#include <windows.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

namespace kv::bench {

// A new BSTR holding `text`, which is ASCII.
inline BSTR Ascii(const std::string& text) {
  std::u16string wide(text.begin(), text.end());
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
}

// A version-3 certificate for `key` valid from yesterday for a year, signed
// by `issuerKey` under `issuer`'s name (its own name when `issuer` is null).
inline X509* MakeCert(const char* cn, long serial, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey) {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), -86400);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 365);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
  X509_set_pubkey(cert, key);
  X509_sign(cert, issuerKey, EVP_sha256());
  return cert;
}

}  // namespace kv::bench
