// Fixtures for the signing tests: a CA with signers in PFX files or in the
// personal store, a private signer-cache area per test, BSTR helpers and
// OpenSSL-side checks of what the engine produced.
#pragma once

#include <windows.h>

#include <openssl/cms.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "engine/capi_engine.h"
#include "support/temp_home.h"
#include "support/test_pki.h"
#include "ui/dialog_test_support.h"

namespace kv::test {

// A BSTR holding the UTF-16 form of a UTF-8 text (the caller's string).
BSTR Utf8Bstr(const std::string& utf8);
// The UTF-16LE bytes of a UTF-8 text.
std::vector<uint8_t> Utf16Bytes(const std::string& utf8);
// Takes a returned BSTR as a narrow string and frees it.
std::string TakeText(BSTR text);
std::vector<uint8_t> FromHex(const std::string& hex);
std::vector<uint8_t> FromBase64(const std::string& text);
std::vector<uint8_t> Reversed(std::vector<uint8_t> bytes);

// PKCS#1 v1.5 check of `signature` (most significant byte first) over a digest value.
bool VerifyDigestSignature(EVP_PKEY* key, const EVP_MD* md, const std::vector<uint8_t>& digest,
                           const std::vector<uint8_t>& signature);
std::vector<uint8_t> Digest(const EVP_MD* md, const std::vector<uint8_t>& data);

// A decoded CMS message and its verification.
struct CmsResult {
  bool parsed = false;
  bool verified = false;
  std::vector<uint8_t> content;  // what the verifier reports as signed content
  std::string error;
};
// Verifies a Base64 PKCS#7 with `root` as the only trust anchor; `detached`
// supplies the content of a detached message; `extra` certificates are
// offered to the verifier when the message carries none; `flags` are
// CMS_verify's (CMS_CADES also checks the signing-certificate attribute).
CmsResult VerifyCms(const std::string& base64, const TestCert& root, const std::vector<uint8_t>* detached = nullptr,
                    const std::vector<const TestCert*>& extra = {}, int flags = CMS_BINARY);
// Occurrences of `needle` in `hay`.
size_t CountBytes(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle);

// A fresh home, a private signer-cache area, a CA and a signer in a PFX file.
class SigningTest : public HomeTest {
 protected:
  SigningTest();
  void SetUp() override;

  // Writes a PKCS#12 of `leaf` (with `chain`) into the temp folder.
  std::string WritePfx(const std::string& name, const TestCert& leaf, const std::vector<const TestCert*>& chain,
                       const char* password = "1234");
  // Puts `cert` with its key into the personal store.
  void AddToMy(const TestCert& cert);
  // SelectSignerEx on a PFX file with no dialog (flags 0x200).
  LONG SelectPfx(CCapiEngine& engine, const std::string& name, const char* password = "1234", LONG flags = 0x200);

  std::string areaName_;
  ScopedEnv area_;
  ScopedEnv noScript_, noDisplay_, noWayland_;
  TempFolder folder_;
  CertPtr root_;
  CertPtr signer_;
  CCapiEngine engine_;
};

}  // namespace kv::test
