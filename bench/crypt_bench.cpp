// Cost of the encryption operations against OpenSSL doing the same work on
// the same bytes in-process:
//  - SymEncrypt / SymDecrypt of 1 MiB (the text as UTF-16LE bytes) under a
//    three-key triple-DES key, zero IV, CBC, one line of Base64, against
//    EVP des-ede3-cbc plus the same Base64 step (what `openssl enc
//    -des-ede3-cbc -a` does);
//  - CertEncryptPkcs7 / CertDecryptPkcs7 for one 2048-bit recipient with
//    triple-DES content, against CMS_encrypt / CMS_decrypt with the same
//    certificate, key and content algorithm; both decryptions read the same
//    message, the one CertEncryptPkcs7 made.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <wincrypt.h>

#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_home.h"
#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "bench_pki.h"
#include "bench_recipient.h"

namespace {

using kv::bench::MakeCert;
using kv::bench::Recipient;

using kv::bench::BenchHome;

constexpr int64_t kMiB = 1 << 20;
constexpr LONG kTripleDes = 0;
// 24 bytes: three-key triple-DES.
const char kKeyHex[] = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";

// A text of `bytes / 2` UTF-16 code units without zeros: `bytes` bytes of
// UTF-16LE once the engine takes it.
std::u16string Text(int64_t bytes) {
  std::u16string text(static_cast<size_t>(bytes / 2), u'A');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(u'A' + i % 26);
  return text;
}

BSTR Wide(const std::u16string& text) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
}

BSTR Ascii(const std::string& text) { return Wide(std::u16string(text.begin(), text.end())); }

std::vector<unsigned char> KeyBytes() {
  std::vector<unsigned char> key;
  for (size_t i = 0; i + 1 < sizeof kKeyHex; i += 2) key.push_back(static_cast<unsigned char>(
      std::stoi(std::string(kKeyHex + i, 2), nullptr, 16)));
  return key;
}

std::string Base64(const unsigned char* data, size_t size) {
  std::string text(4 * ((size + 2) / 3) + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]), data, static_cast<int>(size));
  text.resize(static_cast<size_t>(length));
  return text;
}

bool FromBase64(const std::string& text, std::vector<unsigned char>* out) {
  out->resize(text.size() / 4 * 3);
  int length = EVP_DecodeBlock(out->data(), reinterpret_cast<const unsigned char*>(text.data()),
                               static_cast<int>(text.size()));
  if (length < 0) return false;
  size_t padding = 0;
  for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) ++padding;
  out->resize(static_cast<size_t>(length) - padding);
  return true;
}

// des-ede3-cbc with a zero IV, PKCS#5 padding.
bool OpenSslTripleDes(bool encrypt, const unsigned char* in, size_t size, std::vector<unsigned char>* out) {
  static const std::vector<unsigned char> key = KeyBytes();
  static const unsigned char iv[8] = {};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  out->resize(size + 8);
  int written = 0, last = 0;
  bool ok = ctx && EVP_CipherInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, key.data(), iv, encrypt ? 1 : 0) == 1 &&
            EVP_CipherUpdate(ctx, out->data(), &written, in, static_cast<int>(size)) == 1 &&
            EVP_CipherFinal_ex(ctx, out->data() + written, &last) == 1;
  EVP_CIPHER_CTX_free(ctx);
  out->resize(ok ? static_cast<size_t>(written + last) : 0);
  return ok;
}

// --- SymEncrypt / SymDecrypt ---

// Times one engine operation that answers a BSTR: `call` makes the call,
// `accept` checks its text; the run stops with "`what` failed" when the
// engine reports an error or the text is refused.
template <typename Call, typename Accept>
void TimeEngineCall(benchmark::State& state, CCapiEngine& engine, const char* what, Call call, Accept accept) {
  for (auto _ : state) {
    BSTR result = call();
    const bool ok = engine.Code() == 0 && accept(result);
    SysFreeString(result);
    if (!ok) {
      state.SkipWithError((std::string(what) + " failed").c_str());
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

bool AnyText(BSTR) { return true; }


void BM_SymEncrypt(benchmark::State& state) {
  BenchHome home;
  const std::u16string text = Text(state.range(0));
  CCapiEngine engine;
  TimeEngineCall(
      state, engine, "SymEncrypt", [&] { return engine.SymEncrypt(Wide(text), Ascii(kKeyHex), kTripleDes, 0); },
      AnyText);
}
BENCHMARK(BM_SymEncrypt)->Name("SymEncrypt/Ours")->Arg(kMiB)->Unit(benchmark::kMillisecond);

void BM_OpenSslSymEncrypt(benchmark::State& state) {
  const std::u16string text = Text(state.range(0));
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::vector<unsigned char> cipher;
  for (auto _ : state) {
    if (!OpenSslTripleDes(true, bytes, text.size() * 2, &cipher)) {
      state.SkipWithError("EVP encryption failed");
      break;
    }
    std::string b64 = Base64(cipher.data(), cipher.size());
    benchmark::DoNotOptimize(b64.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenSslSymEncrypt)->Name("SymEncrypt/OpenSSL")->Arg(kMiB)->Unit(benchmark::kMillisecond);

// The ciphertext both decryptions read, checked to be what OpenSSL makes.
bool SymCipherText(int64_t bytes, std::string* b64) {
  const std::u16string text = Text(bytes);
  CCapiEngine engine;
  *b64 = kv::TakeNarrow(engine.SymEncrypt(Wide(text), Ascii(kKeyHex), kTripleDes, 0));
  std::vector<unsigned char> expected;
  return engine.Code() == 0 &&
         OpenSslTripleDes(true, reinterpret_cast<const unsigned char*>(text.data()), text.size() * 2, &expected) &&
         *b64 == Base64(expected.data(), expected.size());
}

void BM_SymDecrypt(benchmark::State& state) {
  BenchHome home;
  std::string b64;
  if (!SymCipherText(state.range(0), &b64)) {
    state.SkipWithError("SymEncrypt does not match OpenSSL");
    return;
  }
  const std::u16string wide(b64.begin(), b64.end());
  CCapiEngine engine;
  TimeEngineCall(
      state, engine, "SymDecrypt", [&] { return engine.SymDecrypt(Wide(wide), Ascii(kKeyHex), kTripleDes, 0); },
      [&](BSTR plain) { return SysStringLen(plain) * 2 == state.range(0); });
}
BENCHMARK(BM_SymDecrypt)->Name("SymDecrypt/Ours")->Arg(kMiB)->Unit(benchmark::kMillisecond);

void BM_OpenSslSymDecrypt(benchmark::State& state) {
  BenchHome home;
  std::string b64;
  if (!SymCipherText(state.range(0), &b64)) {
    state.SkipWithError("SymEncrypt does not match OpenSSL");
    return;
  }
  std::vector<unsigned char> cipher, plain;
  for (auto _ : state) {
    if (!FromBase64(b64, &cipher) || !OpenSslTripleDes(false, cipher.data(), cipher.size(), &plain) ||
        static_cast<int64_t>(plain.size()) != state.range(0)) {
      state.SkipWithError("EVP decryption failed");
      break;
    }
    benchmark::DoNotOptimize(plain.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenSslSymDecrypt)->Name("SymDecrypt/OpenSSL")->Arg(kMiB)->Unit(benchmark::kMillisecond);

// --- CertEncryptPkcs7 / CertDecryptPkcs7 ---

void BM_CertEncryptPkcs7(benchmark::State& state) {
  BenchHome home;
  Recipient recipient;
  if (!recipient.ok()) {
    state.SkipWithError("recipient set-up failed");
    return;
  }
  const std::u16string text = Text(state.range(0));
  CCapiEngine engine;
  TimeEngineCall(
      state, engine, "CertEncryptPkcs7",
      [&] { return engine.CertEncryptPkcs7(Wide(text), Ascii(recipient.certB64()), kTripleDes, 0); }, AnyText);
}
BENCHMARK(BM_CertEncryptPkcs7)->Name("CertEncryptPkcs7/Ours")->Arg(1024)->Arg(kMiB)->Unit(benchmark::kMillisecond);

void BM_OpenSslCmsEncrypt(benchmark::State& state) {
  BenchHome home;
  Recipient recipient;
  if (!recipient.ok()) {
    state.SkipWithError("recipient set-up failed");
    return;
  }
  const std::u16string text = Text(state.range(0));
  STACK_OF(X509)* recipients = sk_X509_new_null();
  sk_X509_push(recipients, recipient.cert());
  for (auto _ : state) {
    BIO* in = BIO_new_mem_buf(text.data(), static_cast<int>(text.size() * 2));
    CMS_ContentInfo* cms = CMS_encrypt(recipients, in, EVP_des_ede3_cbc(), CMS_BINARY);
    unsigned char* der = nullptr;
    int length = cms ? i2d_CMS_ContentInfo(cms, &der) : -1;
    if (length > 0) {
      std::string b64 = Base64(der, static_cast<size_t>(length));
      benchmark::DoNotOptimize(b64.data());
    }
    OPENSSL_free(der);
    CMS_ContentInfo_free(cms);
    BIO_free(in);
    if (length <= 0) {
      state.SkipWithError("CMS_encrypt failed");
      break;
    }
  }
  sk_X509_free(recipients);
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenSslCmsEncrypt)->Name("CertEncryptPkcs7/OpenSSL")->Arg(1024)->Arg(kMiB)->Unit(benchmark::kMillisecond);

// The message both decryptions open: made by CertEncryptPkcs7 for the recipient.
std::string EnvelopeFor(const Recipient& recipient, int64_t bytes) {
  CCapiEngine engine;
  std::string b64 = kv::TakeNarrow(engine.CertEncryptPkcs7(Wide(Text(bytes)), Ascii(recipient.certB64()), kTripleDes, 0));
  return engine.Code() == 0 ? b64 : std::string();
}

void BM_CertDecryptPkcs7(benchmark::State& state) {
  BenchHome home;
  Recipient recipient;
  const std::string b64 = recipient.ok() ? EnvelopeFor(recipient, state.range(0)) : std::string();
  if (b64.empty()) {
    state.SkipWithError("envelope set-up failed");
    return;
  }
  const std::u16string wide(b64.begin(), b64.end());
  CCapiEngine engine;
  TimeEngineCall(
      state, engine, "CertDecryptPkcs7", [&] { return engine.CertDecryptPkcs7(Wide(wide), 0); },
      [&](BSTR plain) { return SysStringLen(plain) * 2 == state.range(0); });
}
BENCHMARK(BM_CertDecryptPkcs7)->Name("CertDecryptPkcs7/Ours")->Arg(1024)->Arg(kMiB)->Unit(benchmark::kMillisecond);

void BM_OpenSslCmsDecrypt(benchmark::State& state) {
  BenchHome home;
  Recipient recipient;
  const std::string b64 = recipient.ok() ? EnvelopeFor(recipient, state.range(0)) : std::string();
  if (b64.empty()) {
    state.SkipWithError("envelope set-up failed");
    return;
  }
  std::vector<unsigned char> der;
  for (auto _ : state) {
    bool ok = FromBase64(b64, &der);
    const unsigned char* at = der.data();
    CMS_ContentInfo* cms = ok ? d2i_CMS_ContentInfo(nullptr, &at, static_cast<long>(der.size())) : nullptr;
    BIO* out = BIO_new(BIO_s_mem());
    ok = cms && CMS_decrypt(cms, recipient.key(), recipient.cert(), nullptr, out, CMS_BINARY) == 1 &&
         BIO_ctrl_pending(out) == static_cast<size_t>(state.range(0));
    BIO_free(out);
    CMS_ContentInfo_free(cms);
    if (!ok) {
      state.SkipWithError("CMS_decrypt failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenSslCmsDecrypt)->Name("CertDecryptPkcs7/OpenSSL")->Arg(1024)->Arg(kMiB)->Unit(benchmark::kMillisecond);

}  // namespace
