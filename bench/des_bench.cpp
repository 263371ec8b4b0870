// Throughput of the engine's triple-DES (CBC, zero IV, padding) against
// OpenSSL's des-ede3-cbc on the same 16 MiB, in one run: encryption by
// CDesCipher and by the provider's CryptEncrypt, decryption by CryptDecrypt
// (the path the symmetric operations and the PFX and mobile code use).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
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

// A provider session key for kKey, CBC with the zero IV.
struct ProviderKey {
  HCRYPTPROV prov = 0;
  HCRYPTKEY key = 0;
  ProviderKey() {
    CryptAcquireContextA(&prov, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    BYTE blob[12 + 24] = {PLAINTEXTKEYBLOB, 2, 0, 0, 0x03, 0x66, 0, 0, 24, 0, 0, 0};
    for (int i = 0; i < 24; ++i) blob[12 + i] = kKey[i];
    CryptImportKey(prov, blob, sizeof(blob), 0, 0, &key);
  }
  ~ProviderKey() {
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
  }
};

void OursProviderEncrypt(benchmark::State& state) {
  const auto& input = Input();
  ProviderKey k;
  std::vector<BYTE> data(input.size() + 8);
  for (auto _ : state) {
    std::copy(input.begin(), input.end(), data.begin());
    DWORD length = static_cast<DWORD>(input.size());
    if (!CryptEncrypt(k.key, 0, TRUE, 0, data.data(), &length, static_cast<DWORD>(data.size())))
      state.SkipWithError("CryptEncrypt failed");
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

// The ciphertext of Input() with its padding block.
const std::vector<BYTE>& Ciphertext() {
  static const std::vector<BYTE> cipher = [] {
    ProviderKey k;
    std::vector<BYTE> data(Input().begin(), Input().end());
    data.resize(Input().size() + 8);
    DWORD length = static_cast<DWORD>(Input().size());
    CryptEncrypt(k.key, 0, TRUE, 0, data.data(), &length, static_cast<DWORD>(data.size()));
    return data;
  }();
  return cipher;
}

void OursProviderDecrypt(benchmark::State& state) {
  const auto& cipher = Ciphertext();
  ProviderKey k;
  std::vector<BYTE> data(cipher.size());
  for (auto _ : state) {
    std::copy(cipher.begin(), cipher.end(), data.begin());
    DWORD length = static_cast<DWORD>(data.size());
    if (!CryptDecrypt(k.key, 0, TRUE, 0, data.data(), &length) || length != Input().size())
      state.SkipWithError("CryptDecrypt failed");
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Input().size()));
}

void OpenSslTripleDesCbcDecrypt(benchmark::State& state) {
  const auto& cipher = Ciphertext();
  std::vector<unsigned char> out(cipher.size() + 8);
  const unsigned char iv[8] = {};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  for (auto _ : state) {
    int n1 = 0, n2 = 0;
    EVP_DecryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, kKey, iv);
    EVP_DecryptUpdate(ctx, out.data(), &n1, cipher.data(), int(cipher.size()));
    if (EVP_DecryptFinal_ex(ctx, out.data() + n1, &n2) != 1) state.SkipWithError("decryption failed");
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Input().size()));
}

BENCHMARK(OursTripleDesCbc)->Name("TripleDesCbc/Ours")->Unit(benchmark::kMillisecond);
BENCHMARK(OursProviderEncrypt)->Name("TripleDesCbc/OursProvider")->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslTripleDesCbc)->Name("TripleDesCbc/OpenSSL")->Unit(benchmark::kMillisecond);
BENCHMARK(OursProviderDecrypt)->Name("TripleDesCbcDecrypt/OursProvider")->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslTripleDesCbcDecrypt)->Name("TripleDesCbcDecrypt/OpenSSL")->Unit(benchmark::kMillisecond);

}  // namespace
