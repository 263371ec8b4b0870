// Memory of CertEncryptPkcs7 and CertDecryptPkcs7 as the text grows: one call
// each, the process's resident peak reset (/proc/self/clear_refs) once the
// arguments exist, so the counters say what the call itself adds at its
// peak. Run one size per process (--benchmark_filter=EnvelopeMemory/.*/64):
//  - added_B_per_char: peak added by the call, per character of text;
//  - peak_MiB: the resident peak of the process during the call.
// The text is ASCII letters handed over as UTF-16 (flags 0); the argument
// gives its size in MiB of UTF-16 bytes, so a character is two of them.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_home.h"
#include "bench_recipient.h"
#include "engine/capi_engine.h"
#include "vocabulary/text.h"

namespace {

constexpr LONG kTripleDes = 0;

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"); 0 when unread.
double StatusBytes(const char* field) {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  double kib = 0;
  const size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
      kib = std::strtod(line + length + 1, nullptr);
      break;
    }
  }
  std::fclose(status);
  return kib * 1024;
}

bool ResetPeak() {
  FILE* refs = std::fopen("/proc/self/clear_refs", "w");
  if (!refs) return false;
  const bool ok = std::fputs("5", refs) >= 0;
  return std::fclose(refs) == 0 && ok;
}

BSTR Letters(size_t units) {
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  for (size_t i = 0; text && i < units; ++i) text[i] = static_cast<OLECHAR>(u'a' + i % 26);
  return text;
}

// Runs `call` (which answers the engine's result code) once with the peak
// reset just before it and reports the counters.
template <typename Call>
void MeasureOnce(benchmark::State& state, size_t characters, Call call) {
  for (auto _ : state) {
    if (!ResetPeak()) {
      state.SkipWithError("cannot reset the resident peak");
      return;
    }
    const double before = StatusBytes("VmRSS");
    LONG code = call();
    if (code != 0) {
      state.SkipWithError(("call failed with " + std::to_string(code)).c_str());
      return;
    }
    const double peak = StatusBytes("VmHWM");
    state.counters["added_B_per_char"] = (peak - before) / static_cast<double>(characters);
    state.counters["peak_MiB"] = peak / (1 << 20);
  }
}

void BM_EncryptMemory(benchmark::State& state) {
  kv::bench::BenchHome home;
  kv::bench::Recipient recipient;
  const size_t characters = static_cast<size_t>(state.range(0)) << 19;
  CCapiEngine engine;
  BSTR text = Letters(characters);  // the engine takes it over
  BSTR cert = kv::NarrowToBstr(recipient.certB64());
  MeasureOnce(state, characters, [&] {
    BSTR result = engine.CertEncryptPkcs7(text, cert, kTripleDes, 0);
    const LONG code = engine.Code() != 0 ? engine.Code() : SysStringLen(result) > characters * 2 ? 0 : -1;
    SysFreeString(result);
    return code;
  });
}

void BM_DecryptMemory(benchmark::State& state) {
  kv::bench::BenchHome home;
  kv::bench::Recipient recipient;
  const size_t characters = static_cast<size_t>(state.range(0)) << 19;
  CCapiEngine engine;
  BSTR envelope = engine.CertEncryptPkcs7(Letters(characters), kv::NarrowToBstr(recipient.certB64()), kTripleDes, 0);
  MeasureOnce(state, characters, [&] {
    BSTR plain = engine.CertDecryptPkcs7(envelope, 0);
    const LONG code = engine.Code() != 0 ? engine.Code() : SysStringLen(plain) == characters ? 0 : -1;
    SysFreeString(plain);
    return code;
  });
}

}  // namespace

BENCHMARK(BM_EncryptMemory)->Name("EnvelopeMemory/Encrypt")->Arg(16)->Arg(64)->Arg(256)->Arg(512)->Iterations(1)->Repetitions(1);
BENCHMARK(BM_DecryptMemory)->Name("EnvelopeMemory/Decrypt")->Arg(16)->Arg(64)->Arg(256)->Arg(512)->Iterations(1)->Repetitions(1);
