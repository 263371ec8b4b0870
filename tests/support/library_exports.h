// The engine library as a host program meets it in tests: loaded once with
// dlopen, operations found by their plain names, results freed with the
// library's own SysFreeString.
#pragma once

#include <dlfcn.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace kv::test {

// The library stays loaded for the whole test run, as it would in a host.
inline void* Library() {
  static void* handle = dlopen(KV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  return handle;
}

template <typename F>
F Export(const char* name) {
  return reinterpret_cast<F>(dlsym(Library(), name));
}

// The text of a BSTR the library returned, freed by the library.
inline std::u16string TakeLibraryString(BSTR text) {
  auto freeString = Export<void (*)(BSTR)>("SysFreeString");
  auto length = Export<UINT (*)(BSTR)>("SysStringLen");
  EXPECT_NE(text, nullptr);
  if (!text || !freeString || !length) return {};
  std::u16string out(reinterpret_cast<const char16_t*>(text), length(text));
  freeString(text);
  return out;
}

}  // namespace kv::test
