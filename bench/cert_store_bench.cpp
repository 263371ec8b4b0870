// Cost of the certificate calls the engine makes per operation: decoding a
// certificate, rendering its subject, finding a certificate by thumbprint in
// a personal store of 200 certificates (which refreshes the store from the
// database), building a chain, and importing a PFX file.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <wincrypt.h>

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>


#include <string>
#include <vector>

#include "bench_home.h"

namespace {

const DWORD kEnc = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct Made {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  std::vector<uint8_t> der;
};

Made MakeCert(const std::string& cn, long serial) {
  Made m;
  m.key = EVP_RSA_gen(1024);
  m.cert = X509_new();
  X509_set_version(m.cert, X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(m.cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(m.cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(m.cert), 86400L * 365);
  X509_NAME* name = X509_get_subject_name(m.cert);
  X509_NAME_add_entry_by_txt(name, "C", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("TW"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("測試銀行"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
  X509_set_issuer_name(m.cert, name);
  X509_set_pubkey(m.cert, m.key);
  X509_sign(m.cert, m.key, EVP_sha256());
  int n = i2d_X509(m.cert, nullptr);
  m.der.resize(static_cast<size_t>(n));
  unsigned char* p = m.der.data();
  i2d_X509(m.cert, &p);
  return m;
}

const Made& Sample() {
  static Made made = MakeCert("Bench User", 1);
  return made;
}

void CreateContext(benchmark::State& state) {
  const Made& m = Sample();
  for (auto _ : state) {
    PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, m.der.data(), static_cast<DWORD>(m.der.size()));
    benchmark::DoNotOptimize(ctx);
    CertFreeCertificateContext(ctx);
  }
}
BENCHMARK(CreateContext)->Name("CreateContext/Ours")->Unit(benchmark::kMicrosecond);

void SubjectToString(benchmark::State& state) {
  const Made& m = Sample();
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, m.der.data(), static_cast<DWORD>(m.der.size()));
  char text[512];
  for (auto _ : state)
    benchmark::DoNotOptimize(CertNameToStrA(kEnc, &ctx->pCertInfo->Subject,
                                            CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG, text, sizeof text));
  CertFreeCertificateContext(ctx);
}
BENCHMARK(SubjectToString)->Name("SubjectToString/Ours")->Unit(benchmark::kMicrosecond);

void FindByThumbprintInMy(benchmark::State& state) {
  kv::bench::BenchHome home;
  HCERTSTORE my = CertOpenSystemStoreA(0, "BenchMY");
  std::vector<uint8_t> lastHash;
  for (int i = 0; i < 200; ++i) {
    Made m = MakeCert("User " + std::to_string(i), i + 10);
    CertAddEncodedCertificateToStore(my, kEnc, m.der.data(), static_cast<DWORD>(m.der.size()), CERT_STORE_ADD_ALWAYS,
                                     nullptr);
    lastHash.resize(20);
    unsigned int n = 0;
    EVP_Digest(m.der.data(), m.der.size(), lastHash.data(), &n, EVP_sha1(), nullptr);
    EVP_PKEY_free(m.key);
    X509_free(m.cert);
  }
  CRYPT_HASH_BLOB blob{20, lastHash.data()};
  for (auto _ : state) {
    PCCERT_CONTEXT found = CertFindCertificateInStore(my, kEnc, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    if (!found) state.SkipWithError("not found");
    CertFreeCertificateContext(found);
  }
  CertCloseStore(my, 0);
}
BENCHMARK(FindByThumbprintInMy)->Name("FindByThumbprintInMy/Ours")->Unit(benchmark::kMicrosecond);

void SelfSignedChain(benchmark::State& state) {
  kv::bench::BenchHome home;
  const Made& m = Sample();
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, m.der.data(), static_cast<DWORD>(m.der.size()));
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  for (auto _ : state) {
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, ctx, nullptr, nullptr, &para, 0, nullptr, &chain))
      state.SkipWithError("chain failed");
    CertFreeCertificateChain(chain);
  }
  CertFreeCertificateContext(ctx);
}
BENCHMARK(SelfSignedChain)->Name("SelfSignedChain/Ours")->Unit(benchmark::kMicrosecond);

void ImportPfx(benchmark::State& state) {
  kv::bench::BenchHome home;
  const Made& m = Sample();
  PKCS12* p12 = PKCS12_create("1234", nullptr, m.key, m.cert, nullptr, NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                              NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 2048, 2048, 0);
  int n = i2d_PKCS12(p12, nullptr);
  std::vector<uint8_t> image(static_cast<size_t>(n));
  unsigned char* p = image.data();
  i2d_PKCS12(p12, &p);
  PKCS12_free(p12);
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(image.size()), image.data()};
  for (auto _ : state) {
    HCERTSTORE store = PFXImportCertStore(&blob, u"1234", 0);
    if (!store) state.SkipWithError("import failed");
    // Remove the container the import made, as the PFX loader does on close.
    PCCERT_CONTEXT ctx = CertEnumCertificatesInStore(store, nullptr);
    DWORD size = 0;
    CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
    std::vector<BYTE> info(size);
    CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size);
    auto* prov = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(info.data());
    HCRYPTPROV gone = 0;
    CryptAcquireContextW(&gone, prov->pwszContainerName, prov->pwszProvName, prov->dwProvType, CRYPT_DELETEKEYSET);
    CertFreeCertificateContext(ctx);
    CertCloseStore(store, 0);
  }
}
BENCHMARK(ImportPfx)->Name("ImportPfx/Ours")->Unit(benchmark::kMillisecond);

}  // namespace
