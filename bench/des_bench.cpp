// Throughput of the engine's triple-DES (CBC, zero IV, padding) against
// OpenSSL's des-ede3-cbc on the same 16 MiB, in one run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <vector>

#include "codec/des_cipher.h"

namespace {

constexpr size_t kInputSize = 16u << 20;
const unsigned char kKey[24] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x23, 0x45, 0x67, 0x89,
                                0xab, 0xcd, 0xef, 0x01, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x23};

const std::vector<uint8_t>& Input() {
  static const std::vector<uint8_t> input = [] {
    std::vector<uint8_t> bytes(kInputSize);
    uint32_t x = 777;
    for (auto& b : bytes) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
    return bytes;
  }();
  return input;
}

void OursTripleDesCbc(benchmark::State& state) {
  const auto& input = Input();
  CDesCipher cipher;
  cipher.SetAlgorithm(CALG_3DES);
  cipher.SetKey(kKey, sizeof(kKey));
  for (auto _ : state) {
    if (!cipher.Encrypt(input.data(), int32_t(input.size()))) state.SkipWithError("encryption failed");
    benchmark::DoNotOptimize(cipher.Data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

void OpenSslTripleDesCbc(benchmark::State& state) {
  const auto& input = Input();
  std::vector<unsigned char> out(input.size() + 16);
  const unsigned char iv[8] = {};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  for (auto _ : state) {
    int n1 = 0, n2 = 0;
    EVP_EncryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, kKey, iv);
    EVP_EncryptUpdate(ctx, out.data(), &n1, input.data(), int(input.size()));
    EVP_EncryptFinal_ex(ctx, out.data() + n1, &n2);
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

BENCHMARK(OursTripleDesCbc)->Name("TripleDesCbc/Ours")->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslTripleDesCbc)->Name("TripleDesCbc/OpenSSL")->Unit(benchmark::kMillisecond);

}  // namespace
