// Fuzz target: the recipient text of CertEncryptPkcs7 (a certificate or a
// PKCS#7 bundle, armoured or not). The first byte picks the form the rest is
// dressed in: as it is, as Base64, or as Base64 inside certificate or PKCS #7
// armour with line breaks; a reading that succeeds must hold at least one
// recipient and no encoding twice.
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/byte_buffer.h"
#include "crypt/envelope_recipients.h"
#include "fuzz_home.h"

namespace {

std::string Dressed(uint8_t form, const uint8_t* data, size_t size) {
  if (form % 4 == 0) return std::string(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  CByteBuffer b64;
  if (!b64.EncodeBase64(data, static_cast<int32_t>(size))) return {};
  std::string body = b64.c_str();
  if (form % 4 == 1) return body;
  std::string wrapped;
  for (size_t at = 0; at < body.size(); at += 64) wrapped += body.substr(at, 64) + (form & 4 ? "\r\n" : "\n");
  return form % 4 == 2 ? "-----BEGIN CERTIFICATE-----\n" + wrapped + "-----END CERTIFICATE-----\n"
                       : "-----BEGIN PKCS #7-----\r\n" + wrapped + "-----END PKCS #7-----\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::fuzz::UseThrowawayHome();
  if (size == 0) return 0;
  const std::string text = Dressed(data[0], data + 1, size - 1);
  kv::crypt::CRecipientList recipients;
  DWORD platformError = 0;
  ErrorCode code = kv::crypt::ReadRecipients(text, &recipients, &platformError);
  if (code != ERR_SUCCESS && code != ERR_CERT_FORMAT) std::abort();
  if (code != ERR_SUCCESS) return 0;
  if (recipients.Count() == 0) std::abort();
  PCCERT_CONTEXT* certs = recipients.Contexts();
  for (DWORD i = 0; i < recipients.Count(); ++i) {
    for (DWORD j = i + 1; j < recipients.Count(); ++j) {
      if (certs[i]->cbCertEncoded == certs[j]->cbCertEncoded &&
          std::memcmp(certs[i]->pbCertEncoded, certs[j]->pbCertEncoded, certs[i]->cbCertEncoded) == 0) {
        std::abort();
      }
    }
  }
  return 0;
}
