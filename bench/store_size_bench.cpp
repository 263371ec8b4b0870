// Cost of the personal-store operations as the store grows: GetIECertCount
// (a snapshot of "MY"), SelectSigner with a subject filter, and the same
// followed by a SignPkcs7, in homes holding 1, 100 and 1,000 certificates. One of them is
// the signer (its key imported from a PFX file); the others are end-entity
// certificates of the same issuer without a key.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <wincrypt.h>

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_pki.h"
#include "engine/capi_engine.h"
#include "support/scoped_home.h"

namespace {

using kv::bench::Ascii;
using kv::bench::MakeCert;

const DWORD kEnc = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A home whose personal store holds `count` certificates, made once per run.
class StoreOfSize {
 public:
  explicit StoreOfSize(int count) {
    char pattern[] = "/tmp/korvessa-bench-XXXXXX";
    folder_ = mkdtemp(pattern);
    kv::test::ScopedEnv home("KORVESSA_HOME", folder_.c_str());
    EVP_PKEY* rootKey = EVP_RSA_gen(2048);
    X509* root = MakeCert("Store Bench Root", 1, rootKey, nullptr, rootKey);
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* signer = MakeCert("Store Bench Signer", 2, key, root, rootKey);

    PKCS12* p12 = PKCS12_create("1234", nullptr, key, signer, nullptr, NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                                NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 2048, 2048, 0);
    unsigned char* der = nullptr;
    int length = i2d_PKCS12(p12, &der);
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(length), der};
    HCERTSTORE pfx = PFXImportCertStore(&blob, u"1234", 0);
    HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
    // The signer sits in the middle, so a search cannot stop early by luck.
    for (int i = 1; i < count; ++i) {
      if (i == count / 2) AddFrom(pfx, my);
      X509* filler = MakeCert(("Store Bench User " + std::to_string(i)).c_str(), 100 + i, key, root, rootKey);
      unsigned char* encoded = nullptr;
      int n = i2d_X509(filler, &encoded);
      CertAddEncodedCertificateToStore(my, kEnc, encoded, static_cast<DWORD>(n), CERT_STORE_ADD_ALWAYS, nullptr);
      OPENSSL_free(encoded);
      X509_free(filler);
    }
    if (count == 1) AddFrom(pfx, my);
    CertCloseStore(my, 0);
    CertCloseStore(pfx, 0);
    OPENSSL_free(der);
    PKCS12_free(p12);
    X509_free(signer);
    X509_free(root);
    EVP_PKEY_free(key);
    EVP_PKEY_free(rootKey);
  }

  ~StoreOfSize() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  const std::string& folder() const { return folder_; }

 private:
  static void AddFrom(HCERTSTORE pfx, HCERTSTORE my) {
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(pfx, context)) != nullptr)
      CertAddCertificateContextToStore(my, context, CERT_STORE_ADD_ALWAYS, nullptr);
  }

  std::string folder_;
};

const StoreOfSize& Store(int count) {
  static std::map<int, std::unique_ptr<StoreOfSize>> made;
  auto& slot = made[count];
  if (!slot) slot = std::make_unique<StoreOfSize>(count);
  return *slot;
}

void GetIECertCount(benchmark::State& state) {
  int count = static_cast<int>(state.range(0));
  kv::test::ScopedEnv home("KORVESSA_HOME", Store(count).folder().c_str());
  CCapiEngine engine;
  for (auto _ : state) {
    if (engine.GetIECertCount() != count) {
      state.SkipWithError("wrong count");
      break;
    }
  }
}
BENCHMARK(GetIECertCount)->Name("StoreSize/GetIECertCount")->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// The selection alone: the store's snapshot and the filter matched against
// every certificate.
void Select(benchmark::State& state) {
  int count = static_cast<int>(state.range(0));
  kv::test::ScopedEnv home("KORVESSA_HOME", Store(count).folder().c_str());
  kv::test::ScopedEnv area("KORVESSA_SIGNER_AREA", "Korvessa Store Bench");
  CCapiEngine engine;
  for (auto _ : state) {
    if (engine.SelectSigner(Ascii("S_CN=Store Bench Signer"), 0x100, 0) != 0) {
      state.SkipWithError("selection failed");
      break;
    }
  }
}
BENCHMARK(Select)->Name("StoreSize/SelectSigner")->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void SelectAndSign(benchmark::State& state) {
  int count = static_cast<int>(state.range(0));
  kv::test::ScopedEnv home("KORVESSA_HOME", Store(count).folder().c_str());
  kv::test::ScopedEnv area("KORVESSA_SIGNER_AREA", "Korvessa Store Bench");
  CCapiEngine engine;
  const std::string content = "Buy 1000 shares of 2330 at 600, order 0000123456";
  for (auto _ : state) {
    if (engine.SelectSigner(Ascii("S_CN=Store Bench Signer"), 0x100, 0) != 0) {
      state.SkipWithError("selection failed");
      break;
    }
    BSTR signature = engine.SignPkcs7(Ascii(content), 0);
    bool signed_ = engine.Code() == 0;
    SysFreeString(signature);
    if (!signed_) {
      state.SkipWithError("signing failed");
      break;
    }
  }
}
BENCHMARK(SelectAndSign)
    ->Name("StoreSize/SelectSignerSignPkcs7")
    ->Arg(1)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
