// Cost of one enrolment request: CreatePKCS10 with a 2048-bit key (key
// generation, the weak-key check, the signed request and its record) against
// OpenSSL making the same request in-process, and against the `openssl req
// -newkey rsa:2048` command. Key generation time varies widely from key to
// key, so compare medians over many repetitions
// (--benchmark_repetitions=30 --benchmark_report_aggregates_only=true).
#include <benchmark/benchmark.h>

#include <windows.h>
#include <wincrypt.h>

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <string>

#include "bench_home.h"
#include "engine/capi_engine.h"

namespace {

using kv::bench::BenchHome;

BSTR Name() {
  static const char16_t kName[] = u"王小明";
  return SysAllocString(reinterpret_cast<const OLECHAR*>(kName));
}

void BM_CreatePKCS10(benchmark::State& state) {
  BenchHome home;
  CCapiEngine engine;
  for (auto _ : state) {
    BSTR request = engine.CreatePKCS10(Name(), static_cast<LONG>(state.range(0)), 0);
    if (engine.Code() != 0) state.SkipWithError("CreatePKCS10 failed");
    SysFreeString(request);
  }
}
BENCHMARK(BM_CreatePKCS10)->Name("CreatePKCS10/Ours")->Arg(2048)->Unit(benchmark::kMillisecond);

// The same request made with OpenSSL's library: key, BMPString subject,
// SHA-1 signature, DER.
void BM_OpenSslRequest(benchmark::State& state) {
  for (auto _ : state) {
    EVP_PKEY* key = EVP_RSA_gen(static_cast<unsigned>(state.range(0)));
    X509_REQ* req = X509_REQ_new();
    X509_NAME* name = X509_NAME_new();
    static const unsigned char kBmp[] = {0x73, 0x8B, 0x5C, 0x0F, 0x66, 0x0E};
    X509_NAME_add_entry_by_NID(name, NID_commonName, V_ASN1_BMPSTRING, kBmp, sizeof kBmp, -1, 0);
    X509_REQ_set_subject_name(req, name);
    X509_REQ_set_pubkey(req, key);
    if (!key || X509_REQ_sign(req, key, EVP_sha1()) <= 0) state.SkipWithError("OpenSSL request failed");
    unsigned char* der = nullptr;
    int length = i2d_X509_REQ(req, &der);
    benchmark::DoNotOptimize(length);
    OPENSSL_free(der);
    X509_NAME_free(name);
    X509_REQ_free(req);
    EVP_PKEY_free(key);
  }
}
BENCHMARK(BM_OpenSslRequest)->Name("CreatePKCS10/OpenSSL")->Arg(2048)->Unit(benchmark::kMillisecond);

// The command a CA operator would run, process start included.
void BM_OpenSslReqCommand(benchmark::State& state) {
  BenchHome home;
  const std::string command = "openssl req -new -newkey rsa:" + std::to_string(state.range(0)) +
                              " -nodes -sha1 -subj /CN=bench -keyout " + home.folder() + "/k.pem -outform DER -out " +
                              home.folder() + "/r.der 2>/dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("openssl req failed");
  }
}
BENCHMARK(BM_OpenSslReqCommand)
    ->Name("CreatePKCS10/OpensslReqCommand")
    ->Arg(2048)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
