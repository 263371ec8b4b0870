// Base64 throughput on 1 MiB: our codec against OpenSSL's EVP_EncodeBlock and
// EVP_DecodeBlock in the same run. Bytes/s count the binary side in every
// case, so the rates compare directly. Ours includes allocating the result
// buffer each time; OpenSSL writes into a buffer allocated once.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "codec/base64_kernels.h"
#include "codec/byte_buffer.h"

namespace {

constexpr int kSize = 1 << 20;

const std::vector<unsigned char>& Binary() {
  static const std::vector<unsigned char> data = [] {
    std::vector<unsigned char> d(kSize);
    std::mt19937 rng(1);
    for (auto& b : d) b = static_cast<unsigned char>(rng());
    return d;
  }();
  return data;
}

const std::string& Text() {
  static const std::string text = [] {
    std::string t(4 * ((kSize + 2) / 3) + 1, '\0');
    t.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&t[0]), Binary().data(), kSize)));
    return t;
  }();
  return text;
}

// The same text in 64-character lines with CR LF and PEM armour.
const std::string& ArmouredText() {
  static const std::string text = [] {
    std::string t = "-----BEGIN DATA-----\r\n";
    for (size_t i = 0; i < Text().size(); i += 64) t += Text().substr(i, 64) + "\r\n";
    return t + "-----END DATA-----\r\n";
  }();
  return text;
}

void EncodeOurs(benchmark::State& state, bool scalar) {
  kv::codec::base64::ForceScalarKernels(scalar);
  CByteBuffer out;
  for (auto _ : state) {
    if (!out.EncodeBase64(Binary().data(), kSize)) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(out.Data());
  }
  kv::codec::base64::ForceScalarKernels(false);
  state.SetBytesProcessed(state.iterations() * kSize);
}

void DecodeOurs(benchmark::State& state, const std::string& text, bool scalar) {
  kv::codec::base64::ForceScalarKernels(scalar);
  CByteBuffer out;
  for (auto _ : state) {
    if (!out.DecodeBase64(text.c_str())) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.Data());
  }
  kv::codec::base64::ForceScalarKernels(false);
  if (out.Size() != kSize) state.SkipWithError("wrong decoded size");
  state.SetBytesProcessed(state.iterations() * kSize);
}

void BM_Encode_Ours(benchmark::State& state) { EncodeOurs(state, false); }
void BM_Encode_OursScalar(benchmark::State& state) { EncodeOurs(state, true); }

void BM_Encode_OpenSSL(benchmark::State& state) {
  std::vector<unsigned char> out(Text().size() + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_EncodeBlock(out.data(), Binary().data(), kSize));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kSize);
}

void BM_Decode_Ours(benchmark::State& state) { DecodeOurs(state, Text(), false); }
void BM_Decode_OursScalar(benchmark::State& state) { DecodeOurs(state, Text(), true); }
void BM_Decode_OursArmoured(benchmark::State& state) { DecodeOurs(state, ArmouredText(), false); }
void BM_Decode_OursArmouredScalar(benchmark::State& state) { DecodeOurs(state, ArmouredText(), true); }

void BM_Decode_OpenSSL(benchmark::State& state) {
  std::vector<unsigned char> out(Text().size());
  const std::string& text = Text();
  for (auto _ : state) {
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < kSize) state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kSize);
}

BENCHMARK(BM_Encode_Ours)->Name("Base64Encode/Ours");
BENCHMARK(BM_Encode_OursScalar)->Name("Base64Encode/OursScalar");
BENCHMARK(BM_Encode_OpenSSL)->Name("Base64Encode/OpenSSL");
BENCHMARK(BM_Decode_Ours)->Name("Base64Decode/Ours");
BENCHMARK(BM_Decode_OursScalar)->Name("Base64Decode/OursScalar");
BENCHMARK(BM_Decode_OpenSSL)->Name("Base64Decode/OpenSSL");
BENCHMARK(BM_Decode_OursArmoured)->Name("Base64Decode/OursArmoured");
BENCHMARK(BM_Decode_OursArmouredScalar)->Name("Base64Decode/OursArmouredScalar");

}  // namespace
