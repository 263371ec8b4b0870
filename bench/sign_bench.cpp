// SignPkcs7 and SignPkcs1 rates with a PFX signer (the file is read again for
// every signature) and with a personal-store signer, against OpenSSL with
// the same 2048-bit key in the same run: CMS_sign for the same message shape
// (SHA-1, signer certificate, content attached, no attributes, DER then
// Base64), and a PKCS#1 v1.5 SHA-1 signature as hex for SignPkcs1; the
// SignPkcs7Sha256 group does the same with SHA-256 (the engine's keys sign it
// through the AES-capable provider). The full PFX load alone shows what a
// changed file costs.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <wincrypt.h>

#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <string>
#include <vector>

#include "cert/pfx_file.h"
#include "openssl_cms_sign.h"
#include "engine/capi_engine.h"
#include "bench_pki.h"
#include "support/scoped_home.h"

namespace {

using kv::bench::MakeCert;
using kv::bench::Ascii;

const char kPassword[] = "1234";

// One signer for the whole run, in a PFX file and in the personal store of a
// throw-away home; each benchmark enters the home for its own run, as others
// run in homes of their own between the repetitions.
struct Fixture {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  std::string folder;
  std::string pfxPath;

  Fixture() {
    char pattern[] = "/tmp/korvessa-bench-XXXXXX";
    folder = mkdtemp(pattern);
    kv::test::ScopedEnv home("KORVESSA_HOME", folder.c_str());
    setenv("KORVESSA_SIGNER_AREA", "Korvessa Bench", 1);
    // Selection skips self-signed certificates: the signer has its own issuer.
    EVP_PKEY* rootKey = EVP_RSA_gen(2048);
    X509* root = MakeCert("Bench Root", 1, rootKey, nullptr, rootKey);
    key = EVP_RSA_gen(2048);
    cert = MakeCert("Bench Signer", 0x1234, key, root, rootKey);
    X509_free(root);
    EVP_PKEY_free(rootKey);

    PKCS12* p12 = PKCS12_create(kPassword, nullptr, key, cert, nullptr, NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                                NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 2048, 2048, 0);
    unsigned char* der = nullptr;
    int length = i2d_PKCS12(p12, &der);
    pfxPath = folder + "/bench.pfx";
    FILE* file = std::fopen(pfxPath.c_str(), "wb");
    std::fwrite(der, 1, static_cast<size_t>(length), file);
    std::fclose(file);

    CRYPT_DATA_BLOB blob{static_cast<DWORD>(length), der};
    std::u16string password(kPassword, kPassword + sizeof kPassword - 1);
    HCERTSTORE pfx = PFXImportCertStore(&blob, reinterpret_cast<LPCWSTR>(password.c_str()), 0);
    HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(pfx, context)) != nullptr)
      CertAddCertificateContextToStore(my, context, CERT_STORE_ADD_ALWAYS, nullptr);
    CertCloseStore(my, 0);
    CertCloseStore(pfx, 0);
    OPENSSL_free(der);
    PKCS12_free(p12);
  }

  ~Fixture() {
    X509_free(cert);
    EVP_PKEY_free(key);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

const std::string kContent = "Buy 1000 shares of 2330 at 600, order 0000123456";

using SignCall = BSTR (CCapiEngine::*)(BSTR, LONG);

void SignLoop(benchmark::State& state, CCapiEngine& engine, SignCall call, LONG flags) {
  for (auto _ : state) {
    BSTR signature = (engine.*call)(Ascii(kContent), flags);
    if (engine.Code() != 0) {
      state.SkipWithError("signing failed");
      SysFreeString(signature);
      break;
    }
    benchmark::DoNotOptimize(signature);
    SysFreeString(signature);
  }
  state.SetItemsProcessed(state.iterations());
}

void PfxSigner(benchmark::State& state, SignCall call, LONG flags) {
  Fixture& f = Shared();
  kv::test::ScopedEnv home("KORVESSA_HOME", f.folder.c_str());
  CCapiEngine engine;
  std::string folder = f.folder;
  if (engine.SelectSignerEx(Ascii(""), Ascii(folder), Ascii("bench.pfx"), Ascii(kPassword), Ascii(""), 0x200, 0) != 0) {
    state.SkipWithError("PFX selection failed");
    return;
  }
  SignLoop(state, engine, call, flags);
}

void StoreSigner(benchmark::State& state, SignCall call, LONG flags) {
  kv::test::ScopedEnv home("KORVESSA_HOME", Shared().folder.c_str());
  CCapiEngine engine;
  if (engine.SelectSigner(Ascii(""), 0x100, 0) != 0) {
    state.SkipWithError("store selection failed");
    return;
  }
  SignLoop(state, engine, call, flags);
}

constexpr LONG kSha256 = 0x10000;

BENCHMARK_CAPTURE(PfxSigner, Pkcs7, &CCapiEngine::SignPkcs7, 0)->Name("SignPkcs7/OursPfxSigner")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(StoreSigner, Pkcs7, &CCapiEngine::SignPkcs7, 0)->Name("SignPkcs7/OursStoreSigner")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PfxSigner, Pkcs1, &CCapiEngine::SignPkcs1, 0)->Name("SignPkcs1/OursPfxSigner")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(StoreSigner, Pkcs1, &CCapiEngine::SignPkcs1, 0)->Name("SignPkcs1/OursStoreSigner")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PfxSigner, Pkcs7Sha256, &CCapiEngine::SignPkcs7, kSha256)
    ->Name("SignPkcs7Sha256/OursPfxSigner")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(StoreSigner, Pkcs7Sha256, &CCapiEngine::SignPkcs7, kSha256)
    ->Name("SignPkcs7Sha256/OursStoreSigner")
    ->Unit(benchmark::kMicrosecond);

// The same signature from OpenSSL: SHA-1 of the UTF-16LE text, PKCS#1 v1.5,
// upper-case hex.
void BM_OpenSslPkcs1(benchmark::State& state) {
  Fixture& f = Shared();
  std::u16string wide(kContent.begin(), kContent.end());
  for (auto _ : state) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    size_t length = 0;
    EVP_DigestSignInit(ctx, nullptr, EVP_sha1(), nullptr, f.key);
    EVP_DigestSignUpdate(ctx, wide.data(), wide.size() * 2);
    EVP_DigestSignFinal(ctx, nullptr, &length);
    std::vector<unsigned char> signature(length);
    EVP_DigestSignFinal(ctx, signature.data(), &length);
    std::string hex;
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; ++i) {
      hex.push_back(kDigits[signature[i] >> 4]);
      hex.push_back(kDigits[signature[i] & 15]);
    }
    benchmark::DoNotOptimize(hex.data());
    EVP_MD_CTX_free(ctx);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenSslPkcs1)->Name("SignPkcs1/OpenSSL")->Unit(benchmark::kMicrosecond);

// The message OpenSSL makes for the same request, encoded the same way.
void OpenSslCmsSign(benchmark::State& state, const EVP_MD* md) {
  Fixture& f = Shared();
  std::u16string wide(kContent.begin(), kContent.end());
  for (auto _ : state) {
    kv::bench::OpenSslCmsSignOnce(f.cert, f.key, md, wide);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(OpenSslCmsSign, Sha1, EVP_sha1())->Name("SignPkcs7/OpenSSL")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OpenSslCmsSign, Sha256, EVP_sha256())
    ->Name("SignPkcs7Sha256/OpenSSL")
    ->Unit(benchmark::kMicrosecond);

// What the PFX route pays when the file or password changed: the full load.
void BM_PfxReload(benchmark::State& state) {
  Fixture& f = Shared();
  kv::test::ScopedEnv home("KORVESSA_HOME", f.folder.c_str());
  for (auto _ : state) {
    CPfxFile pfx;
    if (pfx.Load(f.pfxPath, kPassword, 1) != 0) {
      state.SkipWithError("PFX load failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PfxReload)->Name("PfxReload/Ours")->Unit(benchmark::kMicrosecond);

}  // namespace
