// Cost of the provider calls the engine makes per operation: a PKCS#1
// signature of a SHA-1 value (1024- and 2048-bit keys), triple-DES through
// CryptEncrypt block by block as the symmetric operation drives it, and a
// triple-DES envelope to one recipient.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <wincrypt.h>

#include <vector>

namespace {

HCRYPTPROV VerifyContext() {
  HCRYPTPROV prov = 0;
  CryptAcquireContextA(&prov, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
  return prov;
}

void SignSha1Value(benchmark::State& state) {
  HCRYPTPROV prov = VerifyContext();
  HCRYPTKEY key = 0;
  CryptGenKey(prov, AT_SIGNATURE, static_cast<DWORD>(state.range(0)) << 16, &key);
  BYTE value[20] = {1, 2, 3};
  std::vector<BYTE> sig(state.range(0) / 8);
  for (auto _ : state) {
    HCRYPTHASH hash = 0;
    CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash);
    CryptSetHashParam(hash, HP_HASHVAL, value, 0);
    DWORD len = static_cast<DWORD>(sig.size());
    if (!CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, sig.data(), &len)) state.SkipWithError("sign failed");
    CryptDestroyHash(hash);
  }
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}
BENCHMARK(SignSha1Value)->Name("ProviderSignSha1/Ours")->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);

void TripleDesBlockwise(benchmark::State& state) {
  HCRYPTPROV prov = VerifyContext();
  BYTE blob[12 + 24] = {PLAINTEXTKEYBLOB, 2, 0, 0, 0x03, 0x66, 0, 0, 24, 0, 0, 0};
  for (int i = 0; i < 24; ++i) blob[12 + i] = static_cast<BYTE>(i * 7 + 1);
  HCRYPTKEY key = 0;
  CryptImportKey(prov, blob, sizeof(blob), 0, 0, &key);
  std::vector<BYTE> data(static_cast<size_t>(state.range(0)) + 8);
  for (auto _ : state) {
    size_t full = static_cast<size_t>(state.range(0)) / 8 * 8;
    for (size_t at = 0; at < full; at += 8) {
      DWORD len = 8;
      CryptEncrypt(key, 0, FALSE, 0, data.data() + at, &len, 8);
    }
    DWORD len = 0;
    CryptEncrypt(key, 0, TRUE, 0, data.data() + full, &len, 8);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}
BENCHMARK(TripleDesBlockwise)->Name("ProviderTripleDes/Ours")->Arg(4096)->Unit(benchmark::kMicrosecond);

}  // namespace
