// OpenSSL-side checks and fixtures of the signing tests.
#include "sign/sign_test_support.h"

#include <wincrypt.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <algorithm>

#include "vocabulary/text.h"
#include "support/my_store.h"

namespace kv::test {

namespace {

std::u16string Utf8ToUtf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = c;
    size_t n = 1;
    if (c >= 0xF0) { cp = c & 0x07; n = 4; }
    else if (c >= 0xE0) { cp = c & 0x0F; n = 3; }
    else if (c >= 0xC0) { cp = c & 0x1F; n = 2; }
    for (size_t k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

// One area per test, named after it: parallel test processes run different
// tests, and a name that stays the same from run to run leaves no growing
// trail of shared-memory objects behind.
std::string TestAreaName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (!info) return "Korvessa Test";
  return std::string("Korvessa Test ") + info->test_suite_name() + "." + info->name();
}

}  // namespace

BSTR Utf8Bstr(const std::string& utf8) {
  std::u16string wide = Utf8ToUtf16(utf8);
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
}

std::vector<uint8_t> Utf16Bytes(const std::string& utf8) {
  std::vector<uint8_t> out;
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return out;
}

std::string TakeText(BSTR text) {
  std::string narrow = text ? kv::WideToNarrow(text, static_cast<int>(SysStringLen(text))) : std::string();
  SysFreeString(text);
  return narrow;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<uint8_t> FromBase64(const std::string& text) {
  std::vector<uint8_t> out(text.size());
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < 0) return {};
  size_t pad = 0;
  if (!text.empty() && text.back() == '=') ++pad;
  if (text.size() > 1 && text[text.size() - 2] == '=') ++pad;
  out.resize(static_cast<size_t>(n) - pad);
  return out;
}

std::vector<uint8_t> Reversed(std::vector<uint8_t> bytes) {
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

std::vector<uint8_t> Digest(const EVP_MD* md, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned n = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

bool VerifyDigestSignature(EVP_PKEY* key, const EVP_MD* md, const std::vector<uint8_t>& digest,
                           const std::vector<uint8_t>& signature) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  bool ok = ctx && EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
            EVP_PKEY_CTX_set_signature_md(ctx, md) == 1 &&
            EVP_PKEY_verify(ctx, signature.data(), signature.size(), digest.data(), digest.size()) == 1;
  EVP_PKEY_CTX_free(ctx);
  return ok;
}

CmsResult VerifyCms(const std::string& base64, const TestCert& root, const std::vector<uint8_t>* detached,
                    const std::vector<const TestCert*>& extra, int flags) {
  CmsResult result;
  std::vector<uint8_t> der = FromBase64(base64);
  const unsigned char* p = der.data();
  CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size()));
  if (!cms) {
    result.error = "not a CMS message";
    return result;
  }
  result.parsed = true;
  X509_STORE* store = X509_STORE_new();
  X509_STORE_add_cert(store, root.x509());
  STACK_OF(X509)* certs = sk_X509_new_null();
  for (const TestCert* c : extra) sk_X509_push(certs, c->x509());
  BIO* content = detached ? BIO_new_mem_buf(detached->data(), static_cast<int>(detached->size())) : nullptr;
  BIO* out = BIO_new(BIO_s_mem());
  result.verified = CMS_verify(cms, certs, store, content, out, static_cast<unsigned>(flags)) == 1;
  if (!result.verified) {
    char buf[256];
    ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
    result.error = buf;
  }
  ERR_clear_error();
  char* data = nullptr;
  long n = BIO_get_mem_data(out, &data);
  if (n > 0) result.content.assign(data, data + n);
  BIO_free(out);
  BIO_free(content);
  sk_X509_free(certs);
  X509_STORE_free(store);
  CMS_ContentInfo_free(cms);
  return result;
}

size_t CountBytes(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  size_t count = 0;
  for (auto it = hay.begin(); (it = std::search(it, hay.end(), needle.begin(), needle.end())) != hay.end(); ++it) ++count;
  return count;
}

SigningTest::SigningTest()
    : areaName_(TestAreaName()),
      area_("KORVESSA_SIGNER_AREA", areaName_.c_str()),
      noScript_("KORVESSA_DIALOGS", nullptr),
      noDisplay_("DISPLAY", nullptr),
      noWayland_("WAYLAND_DISPLAY", nullptr) {}

void SigningTest::SetUp() {
  root_ = MakeRootCa("Test Root");
  signer_ = MakeEndEntity("Signer One", *root_);
}

std::string SigningTest::WritePfx(const std::string& name, const TestCert& leaf,
                                  const std::vector<const TestCert*>& chain, const char* password) {
  Pkcs12Spec spec;
  spec.password = password;
  std::vector<uint8_t> image = MakePkcs12(leaf, chain, spec);
  return folder_.File(name, std::string(image.begin(), image.end()));
}

void SigningTest::AddToMy(const TestCert& cert) { ASSERT_TRUE(AddToMyWithKey(cert)); }

LONG SigningTest::SelectPfx(CCapiEngine& engine, const std::string& name, const char* password, LONG flags) {
  return engine.SelectSignerEx(Utf8Bstr(""), Utf8Bstr(folder_.path()), Utf8Bstr(name), Utf8Bstr(password),
                               Utf8Bstr(""), flags, 0);
}

}  // namespace kv::test
