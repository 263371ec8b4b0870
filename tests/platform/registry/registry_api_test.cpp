// Conformance tests of the registry calls: each call runs with a planted last
// error, and both the result and the untouched last error are pinned; the
// same tests run on Windows (under Wine).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry/registry_test_support.h"
#include "support/conformance.h"

namespace kv::test {
namespace {

constexpr DWORD kPlanted = 0xdeadbeef;

class RegistryApi : public RegistryTest {};

TEST_F(RegistryApi, OpenReportsMissingKeysAndBadHandles) {
  HKEY key = reinterpret_cast<HKEY>(0x1);
  SetLastError(kPlanted);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvTest\\Missing", 0, KEY_READ, &key));
  EXPECT_EQ(nullptr, key);
  EXPECT_EQ(kPlanted, GetLastError());

  EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(reinterpret_cast<HKEY>(0x1234), "Software", 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(reinterpret_cast<HKEY>(0x1234)));
  EXPECT_EQ(kPlanted, GetLastError());

  HKEY made = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KvTest", &made));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(made));
  // A closed handle names nothing any more.
  DWORD type = 0;
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(made, "x", nullptr, &type, nullptr, nullptr));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(made));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
  EXPECT_EQ(kPlanted, GetLastError());

  // A handle of another kind is not a key, and survives the attempt.
  std::string path = home_.path() + "/not-a-key";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  SetLastError(kPlanted);
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(reinterpret_cast<HKEY>(file), "x", nullptr, &type, nullptr, nullptr));
#ifndef _WIN32
  // Windows' RegCloseKey closes a kernel handle of any kind; the stand-in's
  // keys have a table of their own.
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(reinterpret_cast<HKEY>(file)));
#endif
  EXPECT_EQ(kPlanted, GetLastError());
  EXPECT_TRUE(CloseHandle(file));

  KV_WINE_DIFFERS("RegOpenKeyExA writes the key through a null result pointer (a page fault) "
                  "where RegOpenKeyExW and Windows refuse it");
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, nullptr));
  EXPECT_EQ(kPlanted, GetLastError());
}

TEST_F(RegistryApi, CreateMakesMissingIntermediateKeys) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  SetLastError(kPlanted);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KvTest\\A\\B\\C", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KvTest\\A\\B\\C\\", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvTest\\A\\B", 0, KEY_READ, &key));
  char name[16];
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(key, 0, name, sizeof name));
  EXPECT_STREQ("C", name);
  RegCloseKey(key);

  EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyA(HKEY_CURRENT_USER, "\\Software\\KvTest", &key));
  EXPECT_EQ(kPlanted, GetLastError());
  KV_WINE_DIFFERS("an empty name between two backslashes is skipped, and a key name may be longer than "
                  "Windows' 255 characters");
  EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\\\KvTest", &key));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyA(HKEY_CURRENT_USER, std::string(256, 'k').c_str(), &key));
  EXPECT_EQ(kPlanted, GetLastError());
}

TEST_F(RegistryApi, NamesAreCaseInsensitiveAndKeepTheirSpelling) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KvTest\\MixedCase", &key));
  DWORD one = 1, two = 2;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Value", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "vALUE", 0, REG_DWORD, reinterpret_cast<BYTE*>(&two), 4));
  RegCloseKey(key);

  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\kvtest\\mixedcase", 0, KEY_READ, &key));
  std::vector<BYTE> data = QueryBytes(key, "VALUE");
  ASSERT_EQ(4u, data.size());
  EXPECT_EQ(2, data[0]);
  char name[32];
  DWORD chars = sizeof name;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("Value", name);  // the first spelling stays
  EXPECT_EQ(5u, chars);
  chars = sizeof name;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(key, 1, name, &chars, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(key);

  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "software\\KVTEST", 0, KEY_READ, &key));
  ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyA(key, 0, name, sizeof name));
  EXPECT_STREQ("MixedCase", name);
  RegCloseKey(key);
}

TEST_F(RegistryApi, QueryFollowsTheSizeRules) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KvTest", &key));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("hello"), 6));

  SetLastError(kPlanted);
  DWORD type = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Text", nullptr, &type, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

  DWORD size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Text", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(6u, size);

  char small[3] = {'x', 'x', 'x'};
  size = sizeof small;
  type = 0;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "Text", nullptr, &type, reinterpret_cast<BYTE*>(small), &size));
  EXPECT_EQ(6u, size);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

  char exact[6];
  size = sizeof exact;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Text", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), &size));
  EXPECT_EQ(6u, size);
  EXPECT_STREQ("hello", exact);

  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegQueryValueExA(key, "Text", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), nullptr));
  DWORD reserved = 0;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(key, "Text", &reserved, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size));
  EXPECT_EQ(kPlanted, GetLastError());
  RegCloseKey(key);
}

TEST_F(RegistryApi, StringStoredWithoutTerminatorGetsOneWhenThereIsRoom) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KvTest", &key));
  // A size that leaves out the terminator that follows the text counts it.
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Counted", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3));
  DWORD size = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Counted", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(4u, size);

  const char bare[] = {'a', 'b', 'c', 'd'};
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(bare), 3));
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Bare", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(3u, size);

  char roomy[5] = {'x', 'x', 'x', 'x', 'x'};
  size = 4;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Bare", nullptr, nullptr, reinterpret_cast<BYTE*>(roomy), &size));
  EXPECT_EQ(3u, size);
  EXPECT_EQ(0, std::memcmp(roomy, "abc\0x", 5));

  char tight[5] = {'x', 'x', 'x', 'x', 'x'};
  size = 3;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Bare", nullptr, nullptr, reinterpret_cast<BYTE*>(tight), &size));
  EXPECT_EQ(0, std::memcmp(tight, "abcxx", 5));  // nothing written past the caller's size
  RegCloseKey(key);
}

TEST_F(RegistryApi, EveryTypeRoundTripsAsGiven) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KvTest\\Types", &key));
  struct Case {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {"dword", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"binary", REG_BINARY, {0, 1, 0, 0xFE, 0}},
      {"multi", REG_MULTI_SZ, {'a', 0, 'b', 'c', 0, 0}},
      {"expand", REG_EXPAND_SZ, {'%', 'H', 'O', 'M', 'E', '%', 0}},
      {"empty", REG_BINARY, {}},
      {"own type", 0x12345, {9, 8, 7}},
  };
  for (const auto& c : cases) {
    SetLastError(kPlanted);
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, c.name, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())))
        << c.name;
    EXPECT_EQ(kPlanted, GetLastError());
  }
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvTest\\Types", 0, KEY_READ, &key));
  for (const auto& c : cases) {
    DWORD type = 0;
    LONG rc = 0;
    EXPECT_EQ(c.data, QueryBytes(key, c.name, &type, &rc)) << c.name;
    EXPECT_EQ(ERROR_SUCCESS, rc) << c.name;
    EXPECT_EQ(c.type, type) << c.name;
  }
  EXPECT_EQ(ERROR_NOACCESS, RegSetValueExA(HKEY_CURRENT_USER, "x", 0, REG_BINARY, nullptr, 4));
  RegCloseKey(key);
}

TEST_F(RegistryApi, Big5NamesWithBackslashTrailBytesStayWhole) {
  // 許 and 功 end in the byte 0x5C in code page 950.
  std::string keyName = AnsiFromUtf8("許功蓋");
  std::string valueName = AnsiFromUtf8("成功");
  std::string text = AnsiFromUtf8("許可證");
  ASSERT_NE(std::string::npos, keyName.find('\\'));
  std::string path = "Software\\KvTest\\" + keyName;

  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &key));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, valueName.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(text.c_str()),
                                          static_cast<DWORD>(text.size() + 1)));
  RegCloseKey(key);

  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvTest", 0, KEY_READ, &key));
  char name[64];
  ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyA(key, 0, name, sizeof name));
  EXPECT_EQ(keyName, name);
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(key, 1, name, sizeof name));
  RegCloseKey(key);

  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key));
  std::vector<BYTE> data = QueryBytes(key, valueName.c_str());
  EXPECT_EQ(text, std::string(data.begin(), data.end()).c_str());
  EXPECT_EQ(text.size() + 1, data.size());  // sizes are in ANSI bytes
  RegCloseKey(key);
}

TEST_F(RegistryApi, DefaultValueHasTheEmptyName) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KvTest\\Default", &key));
  DWORD type = 0;
  SetLastError(kPlanted);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("dflt"), 5));
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "", nullptr, &type, nullptr, nullptr));
  std::vector<BYTE> data = QueryBytes(key, nullptr);
  EXPECT_STREQ("dflt", reinterpret_cast<const char*>(data.data()));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, ""));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, nullptr));
  EXPECT_EQ(kPlanted, GetLastError());
  RegCloseKey(key);
}

TEST_F(RegistryApi, DeletingValuesAndKeys) {
  HKEY parent = nullptr, child = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KvTest\\Parent\\Child", &child));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvTest\\Parent", 0, KEY_ALL_ACCESS, &parent));
  DWORD v = 5;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(child, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4));

  SetLastError(kPlanted);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(child, "missing"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KvTest\\Parent"));  // has a subkey
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(parent, "Nothing"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(parent, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, ""));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(parent, "CHILD"));
  // The open handle outlives its key but reaches nothing.
  DWORD type = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_KEY_DELETED), RegQueryValueExA(child, "v", nullptr, &type, nullptr, nullptr));
  EXPECT_EQ(static_cast<LONG>(ERROR_KEY_DELETED),
            RegSetValueExA(child, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(parent, ""));  // the handle's own key
  EXPECT_EQ(kPlanted, GetLastError());
  RegCloseKey(parent);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvTest\\Parent", 0, KEY_READ, &parent));
}

TEST_F(RegistryApi, EnumerationOrderAndBufferRules) {
  for (const char* name : {"beta", "Alpha", "gamma"}) {
    HKEY k = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, (std::string("Software\\KvEnum\\") + name).c_str(), &k));
    RegCloseKey(k);
  }
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvEnum", 0, KEY_READ, &key));
  std::vector<std::string> names;
  char name[32];
  DWORD i = 0;
  for (; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i) names.push_back(name);
  EXPECT_EQ((std::vector<std::string>{"Alpha", "beta", "gamma"}), names);

  SetLastError(kPlanted);
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(key, 3, name, sizeof name));
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyA(key, 0, name, 5));  // "Alpha" needs 6 with its terminator
  DWORD chars = 6;
  FILETIME written = {};
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(key, 0, name, &chars, nullptr, nullptr, nullptr, &written));
  EXPECT_EQ(5u, chars);
  EXPECT_NE(0u, written.dwHighDateTime);
  EXPECT_EQ(kPlanted, GetLastError());
  RegCloseKey(key);

  // Values enumerate in the order they were first set.
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KvEnum", &key));
  for (const char* v : {"zeta", "Eta", "theta"})
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, v, 0, REG_SZ, reinterpret_cast<const BYTE*>(v), 2));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "zeta", 0, REG_SZ, reinterpret_cast<const BYTE*>("again"), 6));
  std::vector<std::string> values;
  for (i = 0;; ++i) {
    chars = sizeof name;
    DWORD type = 0;
    BYTE data[16];
    DWORD size = sizeof data;
    if (RegEnumValueA(key, i, name, &chars, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    values.push_back(name);
  }
  DWORD subkeys = 0, count = 0, longest = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &longest, nullptr, &count,
                                            nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(3u, subkeys);
  EXPECT_EQ(3u, count);
  EXPECT_EQ(5u, longest);
  RegCloseKey(key);
  KV_WINE_DIFFERS("the registry keeps a key's values sorted by name, and enumerates them so");
  EXPECT_EQ((std::vector<std::string>{"zeta", "Eta", "theta"}), values);
}

TEST_F(RegistryApi, HandlesKeepTheRightsTheyWereOpenedWith) {
  HKEY made = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KvTest", &made));
  RegCloseKey(made);
  HKEY reader = nullptr, writer = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvTest", 0, KEY_READ, &reader));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvTest", 0, KEY_WRITE, &writer));
  DWORD v = 1, type = 0;
  SetLastError(kPlanted);
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(reader, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(reader, "v"));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(writer, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(writer, "v", nullptr, &type, nullptr, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(reader, "v", nullptr, &type, nullptr, nullptr));
  EXPECT_EQ(kPlanted, GetLastError());
  RegCloseKey(reader);
  RegCloseKey(writer);
}

}  // namespace
}  // namespace kv::test
