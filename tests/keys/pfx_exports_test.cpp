// The PFX and mobile operations as a host meets them: through the library's
// exports and through `korvessa --batch` in a process of its own.
#include <gtest/gtest.h>

#include "keys/pfx_test_support.h"
#include "support/library_exports.h"

namespace kv::test {
namespace {

class PfxExportsTest : public PfxTest {};

std::u16string U16(const std::string& utf8) {
  BSTR b = Utf8Bstr(utf8);
  std::u16string out(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
  SysFreeString(b);
  return out;
}

TEST_F(PfxExportsTest, ImportAndGettersThroughTheLibrary) {
  WritePfx("user.pfx", *signer_, {root_.get()});
  auto import = Export<LONG (*)(LPCWSTR, LPCWSTR, LPCWSTR, LONG, LONG)>("ImportPfxToIE");
  auto name = Export<BSTR (*)()>("GetImportedPfxFileName");
  auto preset = Export<LONG (*)(LONG, LONG)>("PresetPasswdLengthRange");
  auto errorCode = Export<LONG (*)()>("GetErrorCode");
  ASSERT_TRUE(import && name && preset && errorCode);
  EXPECT_EQ(0, preset(8, 4));
  std::u16string folder = U16(folder_.path());
  // A null pointer reads as the empty string: the password is asked for,
  // which cannot be shown here.
  EXPECT_EQ(ERR_MEM_ALLOC, import(reinterpret_cast<LPCWSTR>(folder.c_str()),
                                  reinterpret_cast<LPCWSTR>(u"user.pfx"), nullptr, 0, 0));
  EXPECT_EQ(0, import(reinterpret_cast<LPCWSTR>(folder.c_str()), reinterpret_cast<LPCWSTR>(u"user.pfx"),
                      reinterpret_cast<LPCWSTR>(u"1234"), 0, 0));
  EXPECT_EQ(0, errorCode());
  EXPECT_EQ(u"user.pfx", TakeLibraryString(name()));
  EXPECT_EQ(1, CountMy());
}

TEST_F(PfxExportsTest, PasswordChangeAndMobileExportInBatchMode) {
  std::string file = WritePfx("user.pfx", *signer_, {}, "old");
  std::string in = Path("batch.json");
  WriteFile(in, "{\"call\": \"ChangePfxPasswd\", \"args\": [\"" + folder_.path() +
                    "\", \"user.pfx\", \"old\", \"new\", 0]}\n"
                    "{\"call\": \"ExportMobileFromPfx\", \"args\": [\"" + folder_.path() +
                    "\", \"user.pfx\", \"new\", 0, 0]}\n"
                    "{\"call\": \"GetExportedPfxFileName\", \"args\": []}\n");
  std::string out;
  ASSERT_EQ(0, RunCommand("env -u KORVESSA_DIALOGS -u DISPLAY -u WAYLAND_DISPLAY '" + std::string(KV_HOST_PATH) +
                              "' --batch <'" + in + "' 2>&1",
                          &out));
  EXPECT_NE(std::string::npos, out.find("{\"call\": \"ChangePfxPasswd\", \"result\": 0, \"error\": 0")) << out;
  EXPECT_NE(std::string::npos, out.find("{\"call\": \"GetExportedPfxFileName\", \"result\": \"user.pfx\"")) << out;
  EXPECT_TRUE(OpenPfxWithOpenSsl(file, "new").opened);
}

}  // namespace
}  // namespace kv::test
