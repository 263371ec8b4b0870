// OpenSSL's side of the PKCS#7 signing comparisons: one CMS_sign of the
// UTF-16 content without signed attributes, DER-encoded and turned into
// Base64, as the engine's SignPkcs7 delivers it.
#pragma once

#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace kv::bench {

inline bool OpenSslCmsSignOnce(X509* cert, EVP_PKEY* key, const EVP_MD* md, const std::u16string& content) {
  BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size() * 2));
  CMS_ContentInfo* cms = CMS_sign(nullptr, nullptr, nullptr, nullptr, CMS_BINARY | CMS_PARTIAL);
  CMS_add1_signer(cms, cert, key, md, CMS_BINARY | CMS_NOATTR);
  const bool signed_ = CMS_final(cms, in, nullptr, CMS_BINARY) == 1;
  unsigned char* der = nullptr;
  int length = i2d_CMS_ContentInfo(cms, &der);
  std::vector<unsigned char> text(4 * ((static_cast<size_t>(length > 0 ? length : 0) + 2) / 3) + 1);
  if (length > 0) EVP_EncodeBlock(text.data(), der, length);
  benchmark::DoNotOptimize(text.data());
  OPENSSL_free(der);
  CMS_ContentInfo_free(cms);
  BIO_free(in);
  return signed_ && length > 0;
}

}  // namespace kv::bench
