// The host operations as a program meets them in the library: found by their
// plain names, writing and reading registry values, results freed with the
// library's own SysFreeString.
#include <dlfcn.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/library_exports.h"
#include "support/temp_home.h"

namespace kv::test {
namespace {

std::u16string Take(BSTR text) { return TakeLibraryString(text); }

class HostExports : public HomeTest {
 protected:
  void SetUp() override { ASSERT_NE(nullptr, Library()) << dlerror(); }
};

TEST_F(HostExports, AreExportedByName) {
  for (const char* name : {"GetMacAddress", "GetOSName", "GetUserHomePath", "RegReadHKCU", "RegReadHKLM",
                           "RegWriteHKCUInt", "RegWriteHKCUStr"})
    EXPECT_NE(nullptr, dlsym(Library(), name)) << name;
}

TEST_F(HostExports, RegistryValuesThroughTheExports) {
  auto writeInt = Export<LONG (*)(LPCWSTR, LONG)>("RegWriteHKCUInt");
  auto writeStr = Export<LONG (*)(LPCWSTR, LPCWSTR)>("RegWriteHKCUStr");
  auto read = Export<BSTR (*)(LPCWSTR)>("RegReadHKCU");
  auto errorCode = Export<LONG (*)()>("GetErrorCode");
  ASSERT_TRUE(writeInt && writeStr && read && errorCode);

  EXPECT_EQ(0, writeInt(reinterpret_cast<LPCWSTR>(u"Software\\Test\\A"), -1));
  EXPECT_EQ(u"-1", Take(read(reinterpret_cast<LPCWSTR>(u"Software\\Test\\A"))));
  EXPECT_EQ(0, writeStr(reinterpret_cast<LPCWSTR>(u"Software\\Test\\\u540d\u7a31"),
                        reinterpret_cast<LPCWSTR>(u"\u8a31\u529f\u84cb")));
  EXPECT_EQ(u"\u8a31\u529f\u84cb", Take(read(reinterpret_cast<LPCWSTR>(u"Software\\Test\\\u540d\u7a31"))));
  // A null name reads as empty: refused as a bad parameter.
  EXPECT_EQ(u"", Take(read(nullptr)));
  EXPECT_EQ(5005, errorCode());
  EXPECT_EQ(5005, writeStr(nullptr, nullptr));
}

}  // namespace
}  // namespace kv::test
