// GetMacAddress against the kernel's own interface list, GetOSName's version
// table and os-release reading, and GetUserHomePath's error reset.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "host/os_names.h"
#include "support/temp_home.h"

namespace kv::test {
namespace {

// The expected text: one line per non-loopback interface in index order, the
// first six bytes of its address (zeros past a shorter one).
std::string ExpectedMacText() {
  struct Entry {
    int index;
    std::vector<int> bytes;
  };
  std::vector<Entry> entries;
  std::error_code ec;
  for (const auto& dir : std::filesystem::directory_iterator("/sys/class/net", ec)) {
    std::string base = dir.path().string();
    if (std::atoi(ReadFile(base + "/type").c_str()) == 772) continue;  // loopback
    Entry e{std::atoi(ReadFile(base + "/ifindex").c_str()), {}};
    std::string address = ReadFile(base + "/address");
    unsigned value;
    int used = 0;
    const char* p = address.c_str();
    while (e.bytes.size() < 6 && std::sscanf(p, "%2x%n", &value, &used) == 1) {
      e.bytes.push_back(static_cast<int>(value));
      p += used;
      if (*p != ':') break;
      ++p;
    }
    e.bytes.resize(6, 0);
    entries.push_back(e);
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.index < b.index; });
  std::string text;
  for (const auto& e : entries) {
    char line[32];
    std::snprintf(line, sizeof line, "%02X-%02X-%02X-%02X-%02X-%02X", e.bytes[0], e.bytes[1], e.bytes[2], e.bytes[3],
                  e.bytes[4], e.bytes[5]);
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text;
}

class SystemInfo : public HomeTest {
 protected:
  CCapiEngine engine_;
};

TEST_F(SystemInfo, MacAddressesAreTheKernelsInterfaces) {
  if (!std::filesystem::exists("/sys/class/net")) GTEST_SKIP() << "no /sys/class/net to compare with";
  engine_.FailWithPlatformError(ERR_GENERAL, 5);
  std::string expected = ExpectedMacText();
  std::string text = kv::TakeNarrow(engine_.GetMacAddress());
  if (expected.empty()) {
    EXPECT_EQ(ERR_GENERAL, engine_.GetErrorCode());
  } else {
    EXPECT_EQ(expected, text);
    EXPECT_EQ(ERR_SUCCESS, engine_.GetErrorCode());
  }
  EXPECT_EQ(0, engine_.GetCapiErrorCode());
}

TEST_F(SystemInfo, NoAdaptersIsAGeneralError) {
  // In a fresh network namespace only loopback exists: the adapter query
  // answers ERROR_NO_DATA, which the operation reports as 5001.
  pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    engine_.NotePlatformError(5);
    BSTR text = engine_.GetMacAddress();
    bool ok = SysStringLen(text) == 0 && engine_.Code() == ERR_GENERAL && engine_.PlatformError() == 0;
    SysFreeString(text);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no permission to create a network namespace";
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST_F(SystemInfo, OsNameIsTheSystemsOwnAndLeavesTheErrorState) {
  engine_.FailWithPlatformError(ERR_BAD_PARAM, 9);
  std::string name = kv::TakeNarrow(engine_.GetOSName());
  EXPECT_EQ(ERR_BAD_PARAM, engine_.GetErrorCode());
  EXPECT_EQ(9, engine_.GetCapiErrorCode());
  std::string release = ReadFile("/etc/os-release");
  if (release.empty()) release = ReadFile("/usr/lib/os-release");
  std::string pretty = kv::host::PrettyNameFromOsRelease(release);
  EXPECT_EQ(pretty.empty() ? kv::Utf8ToNarrow("Windows 系統無法識別") : kv::Utf8ToNarrow(pretty.c_str()), name);
}

TEST(OsNames, WindowsVersionTable) {
  struct Case {
    DWORD major, minor, platform;
    BYTE product;
    bool serverR2;
    const char* expected;
  } cases[] = {
      {4, 0, VER_PLATFORM_WIN32_NT, 0, false, "Microsoft Windows NT 4.0"},
      {4, 0, VER_PLATFORM_WIN32_WINDOWS, 0, false, "Microsoft Windows 95"},
      {4, 0, VER_PLATFORM_WIN32s, 0, false, ""},
      {4, 10, VER_PLATFORM_WIN32_WINDOWS, 0, false, "Microsoft Windows 98"},
      {4, 90, VER_PLATFORM_WIN32_WINDOWS, 0, false, "Microsoft Windows Me"},
      {4, 3, VER_PLATFORM_WIN32_WINDOWS, 0, false, ""},
      {5, 0, VER_PLATFORM_WIN32_NT, VER_NT_WORKSTATION, false, "Microsoft Windows 2000"},
      {5, 1, VER_PLATFORM_WIN32_NT, VER_NT_WORKSTATION, false, "Microsoft Windows XP"},
      {5, 2, VER_PLATFORM_WIN32_NT, VER_NT_WORKSTATION, true, "Microsoft Windows XP Professional x64 Edition"},
      {5, 2, VER_PLATFORM_WIN32_NT, VER_NT_SERVER, true, "Microsoft Windows Server 2003 R2"},
      {5, 2, VER_PLATFORM_WIN32_NT, VER_NT_SERVER, false, "Microsoft Windows Server 2003"},
      {5, 3, VER_PLATFORM_WIN32_NT, VER_NT_SERVER, false, ""},
      {6, 0, VER_PLATFORM_WIN32_NT, VER_NT_WORKSTATION, false, "Microsoft Windows Vista"},
      {6, 0, VER_PLATFORM_WIN32_NT, VER_NT_DOMAIN_CONTROLLER, false, "Microsoft Windows Server 2008"},
      {6, 1, VER_PLATFORM_WIN32_NT, VER_NT_WORKSTATION, false, "Microsoft Windows 7"},
      {6, 1, VER_PLATFORM_WIN32_NT, VER_NT_SERVER, false, "Microsoft Windows Server 2008 R2"},
      {6, 2, VER_PLATFORM_WIN32_NT, VER_NT_WORKSTATION, false, ""},
      {10, 0, VER_PLATFORM_WIN32_NT, VER_NT_WORKSTATION, false, "Windows 系統無法識別"},
      {3, 51, VER_PLATFORM_WIN32_NT, VER_NT_WORKSTATION, false, "Windows 系統無法識別"},
  };
  for (const auto& c : cases) {
    OSVERSIONINFOEXA v = {};
    v.dwOSVersionInfoSize = sizeof v;
    v.dwMajorVersion = c.major;
    v.dwMinorVersion = c.minor;
    v.dwPlatformId = c.platform;
    v.wProductType = c.product;
    EXPECT_EQ(kv::Utf8ToNarrow(c.expected), kv::host::WindowsVersionName(v, c.serverR2))
        << c.major << "." << c.minor << " product " << int(c.product);
  }
  EXPECT_EQ(kv::Utf8ToNarrow("Windows 作業系統偵測錯誤!"), kv::host::VersionQueryFailedName());
}

TEST(OsNames, PrettyNameOfOsRelease) {
  EXPECT_EQ("Debian GNU/Linux 12 (bookworm)",
            kv::host::PrettyNameFromOsRelease("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"));
  EXPECT_EQ("Plain", kv::host::PrettyNameFromOsRelease("PRETTY_NAME=Plain\r\n"));
  EXPECT_EQ("It's \"quoted\" $x", kv::host::PrettyNameFromOsRelease("PRETTY_NAME=\"It's \\\"quoted\\\" \\$x\""));
  EXPECT_EQ("single", kv::host::PrettyNameFromOsRelease("PRETTY_NAME='single'"));
  EXPECT_EQ("", kv::host::PrettyNameFromOsRelease("NAME=Other\n# PRETTY_NAME=comment\n"));

  ScopedHome home;
  std::string path = home.path() + "/os-release";
  WriteFile(path, "ID=test\nPRETTY_NAME=\"測試系統 1\"\n");
  EXPECT_EQ(kv::Utf8ToNarrow("測試系統 1"), kv::host::HostSystemName(path.c_str()));
  EXPECT_EQ(kv::Utf8ToNarrow("Windows 系統無法識別"), kv::host::HostSystemName((path + ".missing").c_str()));
}

TEST_F(SystemInfo, HomePathClearsTheErrorState) {
  engine_.FailWithPlatformError(ERR_GENERAL, 3);
  EXPECT_EQ(engine_.HomePath(), kv::TakeNarrow(engine_.GetUserHomePath()));
  EXPECT_EQ(ERR_SUCCESS, engine_.GetErrorCode());
  EXPECT_EQ(0, engine_.GetCapiErrorCode());

  ScopedEnv profile("USERPROFILE", "/home/someone/profile");
  CCapiEngine fresh;
  EXPECT_EQ("/home/someone/profile", kv::TakeNarrow(fresh.GetUserHomePath()));
}

}  // namespace
}  // namespace kv::test
