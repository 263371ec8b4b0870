// RegReadHKCU, RegReadHKLM, RegWriteHKCUInt and RegWriteHKCUStr on a fresh
// engine and fresh hives: name checks and their order, round trips, the read
// buffer's limit, missing keys against missing values, the default value,
// Big5 names and the protected-mode refusal.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "platform/registry/registry_test_support.h"

namespace kv::test {
namespace {

BSTR Arg(const std::string& narrow) { return kv::NarrowToBstr(narrow); }

class RegistryOps : public RegistryTest {
 protected:
  std::string ReadCU(const std::string& name) { return kv::TakeNarrow(engine_.RegReadHKCU(Arg(name))); }
  std::string ReadLM(const std::string& name) { return kv::TakeNarrow(engine_.RegReadHKLM(Arg(name))); }
  LONG WriteInt(const std::string& name, LONG value) { return engine_.RegWriteHKCUInt(Arg(name), value); }
  LONG WriteStr(const std::string& name, const std::string& text) {
    return engine_.RegWriteHKCUStr(Arg(name), Arg(text));
  }

  CCapiEngine engine_;
};

TEST_F(RegistryOps, NamesWithoutBackslashAreRefusedBeforeProtectedMode) {
  engine_.OverrideProtectedMode(true);
  engine_.NotePlatformError(77);
  for (const char* bad : {"", "NoBackslash"}) {
    EXPECT_EQ("", ReadCU(bad));
    EXPECT_EQ(ERR_BAD_PARAM, engine_.GetErrorCode()) << bad;
    EXPECT_EQ("", ReadLM(bad));
    EXPECT_EQ(ERR_BAD_PARAM, engine_.GetErrorCode()) << bad;
    EXPECT_EQ(ERR_BAD_PARAM, WriteInt(bad, 1));
    EXPECT_EQ(ERR_BAD_PARAM, WriteStr(bad, "x"));
  }
  EXPECT_EQ(77, engine_.GetCapiErrorCode());  // the platform's number is not recorded here
}

TEST_F(RegistryOps, ProtectedModeRefusesAndTouchesNothing) {
  engine_.OverrideProtectedMode(true);
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, WriteInt("Software\\Test\\A", 7));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, WriteStr("Software\\Test\\B", "x"));
  EXPECT_EQ("", ReadCU("Software\\Test\\A"));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine_.GetErrorCode());
  EXPECT_EQ("", ReadLM("Software\\Test\\A"));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine_.GetErrorCode());
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &key));
}

TEST_F(RegistryOps, ProtectedModeProbeOfAFreshEngine) {
  ScopedEnv protectedMode("KORVESSA_PROTECTED_MODE", "1");
  auto engine = std::make_unique<CCapiEngine>();
  ASSERT_TRUE(engine->InProtectedMode());
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine->RegWriteHKCUInt(Arg("Software\\Test\\A"), 7));
  EXPECT_EQ("", kv::TakeNarrow(engine->GetMacAddress()));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine->GetErrorCode());
}

TEST_F(RegistryOps, NumbersRoundTripAsSignedDecimal) {
  for (LONG value : {7L, -1L, 0L, static_cast<long>(INT_MIN), static_cast<long>(INT_MAX)}) {
    engine_.Fail(ERR_GENERAL);
    EXPECT_EQ(ERR_SUCCESS, WriteInt("Software\\Test\\A", value));
    EXPECT_EQ(std::to_string(value), ReadCU("Software\\Test\\A"));
    EXPECT_EQ(ERR_SUCCESS, engine_.GetErrorCode());
  }
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &key));
  DWORD type = 0;
  std::vector<BYTE> data = QueryBytes(key, "A", &type);
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(4u, data.size());
  RegCloseKey(key);
}

TEST_F(RegistryOps, TextsRoundTripUpToTheReadBuffer) {
  EXPECT_EQ(ERR_SUCCESS, WriteStr("Software\\Test\\Empty", ""));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &key));
  DWORD type = 0, size = 99;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Empty", nullptr, &type, nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(0u, size);
  RegCloseKey(key);
  EXPECT_EQ("", ReadCU("Software\\Test\\Empty"));
  EXPECT_EQ(ERR_SUCCESS, engine_.GetErrorCode());

  std::string fits(254, 'a');  // with its terminator, exactly the 255-byte buffer
  EXPECT_EQ(ERR_SUCCESS, WriteStr("Software\\Test\\Long", fits));
  EXPECT_EQ(fits, ReadCU("Software\\Test\\Long"));

  for (size_t length : {255u, 300u}) {
    EXPECT_EQ(ERR_SUCCESS, WriteStr("Software\\Test\\Long", std::string(length, 'b')));
    engine_.Fail(ERR_GENERAL);
    EXPECT_EQ("", ReadCU("Software\\Test\\Long")) << length;
    EXPECT_EQ(ERR_SUCCESS, engine_.GetErrorCode()) << length;
  }
}

TEST_F(RegistryOps, MissingKeyIsAnErrorMissingValueIsNot) {
  EXPECT_EQ("", ReadCU("Software\\Nowhere\\Value"));
  EXPECT_EQ(ERR_ACCESS_DENIED, engine_.GetErrorCode());
  ASSERT_EQ(ERR_SUCCESS, WriteInt("Software\\Test\\Present", 1));
  EXPECT_EQ("", ReadCU("Software\\Test\\Absent"));
  EXPECT_EQ(ERR_SUCCESS, engine_.GetErrorCode());
}

TEST_F(RegistryOps, OtherTypesReadAsEmptyText) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Test", &key));
  const BYTE bytes[] = {'a', 0, 0};
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Bin", 0, REG_BINARY, bytes, 3));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Exp", 0, REG_EXPAND_SZ, bytes, 2));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Multi", 0, REG_MULTI_SZ, bytes, 3));
  RegCloseKey(key);
  for (const char* name : {"Software\\Test\\Bin", "Software\\Test\\Exp", "Software\\Test\\Multi"}) {
    EXPECT_EQ("", ReadCU(name)) << name;
    EXPECT_EQ(ERR_SUCCESS, engine_.GetErrorCode()) << name;
  }
}

TEST_F(RegistryOps, TrailingBackslashNamesTheDefaultValue) {
  EXPECT_EQ(ERR_SUCCESS, WriteStr("Software\\Test\\Def\\", "default text"));
  EXPECT_EQ("default text", ReadCU("Software\\Test\\Def\\"));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test\\Def", 0, KEY_READ, &key));
  EXPECT_STREQ("default text", reinterpret_cast<const char*>(QueryBytes(key, nullptr).data()));
  RegCloseKey(key);
  // A value at the root of the hive: the key path before the backslash is empty.
  EXPECT_EQ(ERR_SUCCESS, WriteInt("\\AtRoot", 5));
  EXPECT_EQ("5", ReadCU("\\AtRoot"));
}

TEST_F(RegistryOps, Big5NamesSplitAtTheRealBackslash) {
  // 許 and 功 end in 0x5C: the value is 成功 in key Software\Test\許功蓋.
  std::string key = AnsiFromUtf8("Software\\Test\\許功蓋");
  std::string value = AnsiFromUtf8("成功");
  std::string text = AnsiFromUtf8("許可");
  EXPECT_EQ(ERR_SUCCESS, WriteStr(key + "\\" + value, text));
  EXPECT_EQ(text, ReadCU(key + "\\" + value));
  HKEY handle = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &handle));
  char name[32];
  DWORD chars = sizeof name;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(handle, 0, name, &chars, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(value, name);
  RegCloseKey(handle);
}

TEST_F(RegistryOps, MachineValuesAreReadNeverWritten) {
  AsAdministrator([] {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Policy", &key));
    DWORD level = 0xFFFFFFFE;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Level", 0, REG_DWORD, reinterpret_cast<BYTE*>(&level), 4));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>("site"), 5));
    RegCloseKey(key);
  });
  EXPECT_EQ("-2", ReadLM("Software\\Policy\\Level"));
  EXPECT_EQ("site", ReadLM("Software\\Policy\\Name"));
  EXPECT_EQ(ERR_SUCCESS, engine_.GetErrorCode());
  EXPECT_EQ("", ReadLM("Software\\Elsewhere\\Name"));
  EXPECT_EQ(ERR_ACCESS_DENIED, engine_.GetErrorCode());
  // The user's hive is a different tree.
  EXPECT_EQ("", ReadCU("Software\\Policy\\Name"));
  EXPECT_EQ(ERR_ACCESS_DENIED, engine_.GetErrorCode());
}

}  // namespace
}  // namespace kv::test
