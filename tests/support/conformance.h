// The platform tests also run, cross-built, on the real system under Wine.
// Where Wine itself answers otherwise than Windows does, a test names the
// case with KV_WINE_DIFFERS("why"): under Wine the rest of the test is
// skipped with that reason; on Windows and on the stand-in it runs in full.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kv::test {

// True in a Windows program whose ntdll is Wine's (it exports wine_get_version).
inline bool RunningUnderWine() {
#ifdef _WIN32
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
#else
  return false;
#endif
}

}  // namespace kv::test

#define KV_WINE_DIFFERS(reason)                                              \
  do {                                                                       \
    if (::kv::test::RunningUnderWine()) GTEST_SKIP() << "Wine differs: " << (reason); \
  } while (0)
