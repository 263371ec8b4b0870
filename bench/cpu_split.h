// Splits a benchmark's CPU time into user and kernel time per iteration
// (getrusage around the loop), for the comparisons where the gap to OpenSSL
// is in system calls rather than in computation.
#pragma once

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace kv::bench {

class CpuSplit {
 public:
  CpuSplit() { getrusage(RUSAGE_SELF, &start_); }

  // Call after the loop.
  void Report(benchmark::State& state) const {
    rusage end{};
    getrusage(RUSAGE_SELF, &end);
    const double iterations = state.iterations() ? static_cast<double>(state.iterations()) : 1.0;
    state.counters["user_us"] = Micros(end.ru_utime, start_.ru_utime) / iterations;
    state.counters["sys_us"] = Micros(end.ru_stime, start_.ru_stime) / iterations;
  }

 private:
  static double Micros(const timeval& later, const timeval& earlier) {
    return (later.tv_sec - earlier.tv_sec) * 1e6 + (later.tv_usec - earlier.tv_usec);
  }
  rusage start_{};
};

}  // namespace kv::bench
