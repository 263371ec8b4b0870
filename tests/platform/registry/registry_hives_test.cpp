// The stand-in's hives: the machine hive read-only to programs, written by
// the administration tool, its file readable by every user; classes kept per
// user (Windows puts new HKEY_CLASSES_ROOT keys in the machine's classes).
#include <gtest/gtest.h>
#include <windows.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/registry/registry_test_support.h"

namespace kv::test {
namespace {

constexpr DWORD kPlanted = 0xdeadbeef;

class RegistryHives : public RegistryTest {};

TEST_F(RegistryHives, MachineHiveIsReadOnlyForPrograms) {
  HKEY key = nullptr;
  SetLastError(kPlanted);
  // Nothing there yet, and a program cannot add anything.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\KvTest", 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\KvTest", &key));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_SZ,
                                                reinterpret_cast<const BYTE*>("x"), 2));

  AsAdministrator([&] {
    HKEY admin = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\KvTest\\Sub", &admin));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(admin, "Setting", 0, REG_SZ, reinterpret_cast<const BYTE*>("on"), 3));
    RegCloseKey(admin);
  });

  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\KvTest\\Sub", 0, KEY_READ, &key));
  std::vector<BYTE> data = QueryBytes(key, "Setting");
  EXPECT_STREQ("on", reinterpret_cast<const char*>(data.data()));
  RegCloseKey(key);

  EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\KvTest\\Sub", 0, KEY_WRITE, &key));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\KvTest\\Sub", 0, KEY_ALL_ACCESS, &key));
  // RegCreateKeyA opens what exists with the rights a program has: reading.
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\KvTest\\Sub", &key));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(key, "Setting", 0, REG_SZ, reinterpret_cast<const BYTE*>("off"), 4));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(key, "Setting"));
  RegCloseKey(key);
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\KvTest\\Sub"));
  EXPECT_EQ(kPlanted, GetLastError());

  // Readable by everyone, writable by its owner only.
  struct stat st;
  ASSERT_EQ(0, stat((machineHome_ + "/machine.db").c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 0777);
}

TEST_F(RegistryHives, ClassesRootIsTheUsersClassesKey) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CLASSES_ROOT, "Kv.Test\\CLSID", &key));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("{id}"), 5));
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes\\Kv.Test\\CLSID", 0, KEY_READ, &key));
  EXPECT_STREQ("{id}", reinterpret_cast<const char*>(QueryBytes(key, "").data()));
  RegCloseKey(key);
}

}  // namespace
}  // namespace kv::test
