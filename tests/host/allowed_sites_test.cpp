// The shared allow-lists: machine list, user list only where the machine
// allows it, remembering a site, and the guard on the lists' own key.
#include "host/allowed_sites.h"

#include <gtest/gtest.h>

#include "platform/registry/registry_test_support.h"

namespace {

const char kListKey[] = "SOFTWARE\\Korvessa\\CAPI\\AllowedSites";

std::basic_string<WCHAR> W(const char* text) {
  std::basic_string<WCHAR> out;
  for (const char* p = text; *p; ++p) out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*p)));
  return out;
}

kv::SiteOrigin Origin(const char* url) {
  kv::SiteOrigin origin;
  EXPECT_TRUE(kv::ParseDocumentOrigin(W(url), &origin)) << url;
  return origin;
}

class AllowedSitesTest : public kv::test::RegistryTest {
 protected:
  void SetString(HKEY root, const char* name, const char* value) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, kListKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                            static_cast<DWORD>(strlen(value) + 1)));
    RegCloseKey(key);
  }
  void SetMachine(const char* name, const char* value) {
    AsAdministrator([&] { SetString(HKEY_LOCAL_MACHINE, name, value); });
  }
  void AllowUserSites(DWORD value) {
    AsAdministrator([&] {
      HKEY key = nullptr;
      ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvessa\\CAPI", 0, nullptr, 0,
                                               KEY_WRITE, nullptr, &key, nullptr));
      RegSetValueExA(key, "AllowUserSites", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
      RegCloseKey(key);
    });
  }
};

TEST_F(AllowedSitesTest, MachineListCountsAndUserListOnlyWhereAllowed) {
  EXPECT_FALSE(kv::OriginListed(Origin("https://trade.example.com.tw/")));
  SetMachine("trade", "https://*.example.com.tw");
  SetString(HKEY_CURRENT_USER, "mine", "http://127.0.0.1:8080");
  EXPECT_TRUE(kv::OriginListed(Origin("https://trade.example.com.tw/")));
  EXPECT_FALSE(kv::OriginListed(Origin("http://127.0.0.1:8080/")));
  AllowUserSites(2);  // only 1 opens the user list
  EXPECT_FALSE(kv::UserSitesAllowed());
  EXPECT_FALSE(kv::OriginListed(Origin("http://127.0.0.1:8080/")));
  AllowUserSites(1);
  EXPECT_TRUE(kv::UserSitesAllowed());
  EXPECT_TRUE(kv::OriginListed(Origin("http://127.0.0.1:8080/")));
  EXPECT_FALSE(kv::OriginListed(Origin("http://127.0.0.1:8081/")));
}

TEST_F(AllowedSitesTest, NonTextValuesAreNoEntries) {
  AsAdministrator([&] {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, kListKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    const char text[] = "https://a.example";
    RegSetValueExA(key, "binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>(text), sizeof text);
    RegCloseKey(key);
  });
  EXPECT_TRUE(kv::ReadSiteList(HKEY_LOCAL_MACHINE).empty());
  EXPECT_FALSE(kv::OriginListed(Origin("https://a.example/")));
}

TEST_F(AllowedSitesTest, RememberingASiteNeedsTheMachinesLeaveAndKeepsOneEntry) {
  const kv::SiteOrigin origin = Origin("HTTP://LocalHost:9000/page");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(kv::RememberUserSite(origin));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(kv::ReadSiteList(HKEY_CURRENT_USER).empty());

  AllowUserSites(1);
  EXPECT_TRUE(kv::RememberUserSite(origin));
  EXPECT_TRUE(kv::RememberUserSite(origin));
  std::vector<std::basic_string<WCHAR>> list = kv::ReadSiteList(HKEY_CURRENT_USER);
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ(W("http://localhost:9000"), list[0]);
  EXPECT_TRUE(kv::OriginListed(origin));
}

TEST(SiteLockSettings, NamesOfTheListsOwnKeyAreRecognisedHoweverWritten) {
  for (const char* name : {"Software\\Korvessa\\CAPI\\AllowedSites\\x", "\\\\software\\\\KORVESSA\\CAPI\\a",
                           "Software\\Korvessa", "Software\\Korvessa\\AllowUserSites"})
    EXPECT_TRUE(kv::NamesSiteLockSettings(W(name).c_str())) << name;
  for (const char* name : {"Software\\KorvessaX\\a", "Software\\Other\\Korvessa\\a", "Korvessa\\CAPI\\a", ""})
    EXPECT_FALSE(kv::NamesSiteLockSettings(W(name).c_str())) << name;
  EXPECT_FALSE(kv::NamesSiteLockSettings(nullptr));
}

}  // namespace
