// GetAdaptersInfo: the buffer rules on made-up adapter lists, and the real
// machine's list checked against the kernel's own view in /sys/class/net.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "net/adapters.h"
#include "support/temp_home.h"

namespace kv::test {
namespace {

using kv::platform::net::AdapterFacts;
using kv::platform::net::WriteAdapterRecords;

TEST(AdapterRecords, HaveTheWindowsLayout) {
  EXPECT_EQ(704u, sizeof(IP_ADAPTER_INFO));
  EXPECT_EQ(48u, sizeof(IP_ADDR_STRING));
  EXPECT_EQ(12u, offsetof(IP_ADAPTER_INFO, AdapterName));
  EXPECT_EQ(272u, offsetof(IP_ADAPTER_INFO, Description));
  EXPECT_EQ(404u, offsetof(IP_ADAPTER_INFO, AddressLength));
  EXPECT_EQ(408u, offsetof(IP_ADAPTER_INFO, Address));
  EXPECT_EQ(440u, offsetof(IP_ADAPTER_INFO, IpAddressList));
  EXPECT_EQ(696u, offsetof(IP_ADAPTER_INFO, LeaseExpires));
}

std::vector<AdapterFacts> TwoAdapters() {
  AdapterFacts eth;
  eth.name = "eth0";
  eth.description = "eth0 (e1000)";
  eth.address = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  eth.index = 2;
  eth.type = MIB_IF_TYPE_ETHERNET;
  eth.ipv4 = {{"192.0.2.10", "255.255.255.0"}, {"198.51.100.7", "255.255.255.128"}};
  eth.gateway = "192.0.2.1";
  AdapterFacts tun;
  tun.name = std::string(300, 't');  // longer than the record holds
  tun.index = 5;
  tun.type = IF_TYPE_TUNNEL;
  return {eth, tun};
}

TEST(AdapterRecords, BufferRules) {
  std::vector<AdapterFacts> adapters = TwoAdapters();
  const ULONG needed = 2 * sizeof(IP_ADAPTER_INFO) + sizeof(IP_ADDR_STRING);

  EXPECT_EQ(static_cast<ULONG>(ERROR_INVALID_PARAMETER), WriteAdapterRecords(adapters, nullptr, nullptr));
  ULONG size = 0;
  EXPECT_EQ(static_cast<ULONG>(ERROR_BUFFER_OVERFLOW), WriteAdapterRecords(adapters, nullptr, &size));
  EXPECT_EQ(needed, size);

  std::vector<BYTE> buffer(needed + 16, 0xCC);
  auto* info = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data());
  size = needed - 1;
  EXPECT_EQ(static_cast<ULONG>(ERROR_BUFFER_OVERFLOW), WriteAdapterRecords(adapters, info, &size));
  EXPECT_EQ(needed, size);
  EXPECT_EQ(0xCC, buffer[0]);  // nothing written when it does not fit

  size = needed;
  ASSERT_EQ(static_cast<ULONG>(ERROR_SUCCESS), WriteAdapterRecords(adapters, info, &size));
  EXPECT_EQ(0xCC, buffer[needed]);  // nor past the records
  ASSERT_EQ(&info[1], info->Next);
  EXPECT_EQ(nullptr, info[1].Next);
  EXPECT_STREQ("eth0", info->AdapterName);
  EXPECT_EQ(6u, info->AddressLength);
  EXPECT_EQ(0, std::memcmp(info->Address, "\x00\x1A\x2B\x3C\x4D\x5E", 6));
  EXPECT_EQ(2u, info->Index);
  EXPECT_STREQ("192.0.2.10", info->IpAddressList.IpAddress.String);
  ASSERT_NE(nullptr, info->IpAddressList.Next);
  EXPECT_EQ(reinterpret_cast<BYTE*>(info->IpAddressList.Next), buffer.data() + 2 * sizeof(IP_ADAPTER_INFO));
  EXPECT_STREQ("198.51.100.7", info->IpAddressList.Next->IpAddress.String);
  EXPECT_STREQ("255.255.255.128", info->IpAddressList.Next->IpMask.String);
  EXPECT_STREQ("192.0.2.1", info->GatewayList.IpAddress.String);

  EXPECT_EQ(259u, std::strlen(info[1].AdapterName));
  EXPECT_EQ(0u, info[1].AddressLength);
  EXPECT_STREQ("0.0.0.0", info[1].IpAddressList.IpAddress.String);
  EXPECT_EQ(static_cast<UINT>(IF_TYPE_TUNNEL), info[1].Type);

  size = 1000;
  EXPECT_EQ(static_cast<ULONG>(ERROR_NO_DATA), WriteAdapterRecords({}, info, &size));
}

struct KernelInterface {
  std::string name;
  int index;
  std::string address;  // as sysfs shows it, lower-case with colons
};

// Non-loopback interfaces as sysfs lists them, in index order.
std::vector<KernelInterface> KernelInterfaces() {
  std::vector<KernelInterface> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net", ec)) {
    std::string dir = entry.path().string();
    std::string type = ReadFile(dir + "/type");
    if (std::atoi(type.c_str()) == 772) continue;  // ARPHRD_LOOPBACK
    std::string address = ReadFile(dir + "/address");
    while (!address.empty() && (address.back() == '\n' || address.back() == ' ')) address.pop_back();
    found.push_back({entry.path().filename().string(), std::atoi(ReadFile(dir + "/ifindex").c_str()), address});
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
  return found;
}

std::string SysfsForm(const BYTE* bytes, UINT length) {
  std::string out;
  char part[4];
  for (UINT i = 0; i < length; ++i) {
    std::snprintf(part, sizeof part, i ? ":%02x" : "%02x", bytes[i]);
    out += part;
  }
  return out;
}

TEST(GetAdaptersInfo, MatchesTheKernelsInterfaceList) {
  if (!std::filesystem::exists("/sys/class/net")) GTEST_SKIP() << "no /sys/class/net to compare with";
  std::vector<KernelInterface> kernel = KernelInterfaces();
  ULONG size = 0;
  SetLastError(0xdeadbeef);
  ULONG rc = GetAdaptersInfo(nullptr, &size);
  if (kernel.empty()) {
    EXPECT_EQ(static_cast<ULONG>(ERROR_NO_DATA), rc);
    return;
  }
  ASSERT_EQ(static_cast<ULONG>(ERROR_BUFFER_OVERFLOW), rc);
  ASSERT_GE(size, kernel.size() * sizeof(IP_ADAPTER_INFO));
  std::vector<BYTE> buffer(size);
  auto* info = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data());
  ASSERT_EQ(static_cast<ULONG>(ERROR_SUCCESS), GetAdaptersInfo(info, &size));
  EXPECT_EQ(0xdeadbeefu, GetLastError());
  EXPECT_EQ(static_cast<ULONG>(ERROR_INVALID_PARAMETER), GetAdaptersInfo(info, nullptr));

  size_t i = 0;
  for (const IP_ADAPTER_INFO* a = info; a; a = a->Next, ++i) {
    ASSERT_LT(i, kernel.size());
    EXPECT_EQ(kernel[i].name, a->AdapterName);
    EXPECT_EQ(static_cast<DWORD>(kernel[i].index), a->Index);
    EXPECT_EQ(kernel[i].address, SysfsForm(a->Address, a->AddressLength)) << a->AdapterName;
  }
  EXPECT_EQ(kernel.size(), i);
}

TEST(GetAdaptersInfo, NoDataWhereOnlyLoopbackExists) {
  // A fresh network namespace has nothing but its loopback interface.
  pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    ULONG size = 0;
    _exit(GetAdaptersInfo(nullptr, &size) == ERROR_NO_DATA ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no permission to create a network namespace";
  EXPECT_EQ(0, WEXITSTATUS(status));
}

}  // namespace
}  // namespace kv::test
