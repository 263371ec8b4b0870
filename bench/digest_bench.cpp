// Throughput of the engine's digests against OpenSSL's EVP digests on the
// same 16 MiB buffer, in one run: compare the bytes_per_second columns.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <vector>

#include "codec/digest/digest_stream.h"

namespace {

constexpr size_t kInputSize = 16u << 20;

const std::vector<uint8_t>& Input() {
  static const std::vector<uint8_t> input = [] {
    std::vector<uint8_t> bytes(kInputSize);
    uint32_t x = 12345;
    for (auto& b : bytes) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
    return bytes;
  }();
  return input;
}

void Ours(benchmark::State& state, kv::digest::Algorithm algorithm, kv::digest::Implementation implementation) {
  const auto saved = kv::digest::SelectedImplementation();
  kv::digest::SelectImplementation(implementation);
  const auto& input = Input();
  uint8_t out[kv::digest::kMaxDigestLength];
  kv::digest::Hasher hasher(algorithm);
  for (auto _ : state) {
    hasher.Update(input.data(), input.size());
    hasher.Final(out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
  kv::digest::SelectImplementation(saved);
}

void OpenSsl(benchmark::State& state, const EVP_MD* md) {
  const auto& input = Input();
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  for (auto _ : state) {
    EVP_DigestInit_ex(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, input.data(), input.size());
    EVP_DigestFinal_ex(ctx, out, &length);
    benchmark::DoNotOptimize(out);
  }
  EVP_MD_CTX_free(ctx);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

using kv::digest::Algorithm;
using kv::digest::Implementation;

BENCHMARK_CAPTURE(Ours, Md5, Algorithm::kMd5, Implementation::kAuto)->Name("Md5/Ours")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenSsl, Md5, EVP_md5())->Name("Md5/OpenSSL")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, Sha1, Algorithm::kSha1, Implementation::kAuto)->Name("Sha1/Ours")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, Sha1Portable, Algorithm::kSha1, Implementation::kPortable)->Name("Sha1/OursPortable")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenSsl, Sha1, EVP_sha1())->Name("Sha1/OpenSSL")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, Sha256, Algorithm::kSha256, Implementation::kAuto)->Name("Sha256/Ours")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, Sha256Portable, Algorithm::kSha256, Implementation::kPortable)->Name("Sha256/OursPortable")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenSsl, Sha256, EVP_sha256())->Name("Sha256/OpenSSL")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, Sha512, Algorithm::kSha512, Implementation::kAuto)->Name("Sha512/Ours")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, Sha512Portable, Algorithm::kSha512, Implementation::kPortable)->Name("Sha512/OursPortable")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenSsl, Sha512, EVP_sha512())->Name("Sha512/OpenSSL")->Unit(benchmark::kMillisecond);

}  // namespace
