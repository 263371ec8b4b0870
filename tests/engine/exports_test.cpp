// The engine's exported functions as a host program meets them: the library
// loaded with dlopen, each operation found by its plain name, results freed
// with the library's own SysFreeString, internals not visible.
#include <dlfcn.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "api/export_door.h"
#include "vocabulary/text.h"
#include "support/library_exports.h"

namespace {

using kv::test::Export;
using kv::test::Library;

std::u16string TakeFromLibrary(BSTR text) { return kv::test::TakeLibraryString(text); }

class Exports : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(Library(), nullptr) << dlerror(); }
};

TEST_F(Exports, EngineOperationsAndStringCallsAreExported) {
  for (const char* name : {"GetDllVersion", "GetErrorCode", "GetErrorMsg", "GetCapiErrorCode", "GetCapiErrorMsg",
                           "GetPortEx", "SysAllocString", "SysAllocStringLen", "SysFreeString", "SysStringLen"})
    EXPECT_NE(dlsym(Library(), name), nullptr) << name;
}

TEST_F(Exports, InternalsStayHidden) {
  // The engine object, its helpers and the stand-in's other calls are not
  // part of the library's interface.
  for (const char* name : {"_Z10TheEnginev", "_Z18FormatErrorMessagei", "GetVersion", "MultiByteToWideChar",
                           "FormatMessageA", "LoadLibraryA"})
    EXPECT_EQ(dlsym(Library(), name), nullptr) << name;
}

TEST_F(Exports, VersionIsTheBuildVersion) {
  char expected[64];
  std::snprintf(expected, sizeof expected, "%d.%d.%d.%d", KV_VERSION_MAJOR, KV_VERSION_MINOR, KV_VERSION_PATCH,
                KV_VERSION_TWEAK);
  std::u16string version = TakeFromLibrary(Export<BSTR (*)()>("GetDllVersion")());
  EXPECT_EQ(kv::WideToNarrow(reinterpret_cast<LPCWSTR>(version.c_str())), expected);
  EXPECT_EQ(Export<LONG (*)()>("GetErrorCode")(), 0);
}

TEST_F(Exports, PortExIsConstant) {
  auto portEx = Export<LONG (*)()>("GetPortEx");
  ASSERT_NE(portEx, nullptr);
  EXPECT_EQ(portEx(), 65537);
  EXPECT_EQ(portEx(), 65537);
}

TEST(ExportDoor, NullArgumentReadsAsEmptyString) {
  EXPECT_EQ(kv::CopyArg(nullptr), nullptr);
  EXPECT_EQ(kv::TakeNarrow(kv::CopyArg(nullptr)), "");
  const char16_t text[] = u"abc";
  BSTR copy = kv::CopyArg(reinterpret_cast<LPCWSTR>(text));
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(reinterpret_cast<const void*>(copy), reinterpret_cast<const void*>(text));
  EXPECT_EQ(kv::TakeNarrow(copy), "abc");
}

}  // namespace
