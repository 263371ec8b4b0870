// GetAdaptersInfo from the kernel's interface list: getifaddrs gives the
// interfaces with their hardware (AF_PACKET) and IPv4 addresses, sysfs the
// driver and the wireless flag, /proc/net/route the default gateways.
#include "net/adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if_arp.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace kv::platform::net {

namespace {

bool PathExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string DriverName(const std::string& iface) {
  char target[512];
  std::string link = "/sys/class/net/" + iface + "/device/driver";
  ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  target[n] = '\0';
  const char* slash = std::strrchr(target, '/');
  return slash ? slash + 1 : target;
}

UINT AdapterType(const std::string& iface, unsigned short hatype) {
  switch (hatype) {
    case ARPHRD_ETHER:
      if (PathExists("/sys/class/net/" + iface + "/wireless") || PathExists("/sys/class/net/" + iface + "/phy80211"))
        return IF_TYPE_IEEE80211;
      return MIB_IF_TYPE_ETHERNET;
    case ARPHRD_PPP: return MIB_IF_TYPE_PPP;
    case ARPHRD_IEEE1394: return IF_TYPE_IEEE1394;
    case ARPHRD_SLIP: return MIB_IF_TYPE_SLIP;
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_NONE: return IF_TYPE_TUNNEL;
    default: return MIB_IF_TYPE_OTHER;
  }
}

std::string Dotted(const struct sockaddr* sa) {
  if (!sa || sa->sa_family != AF_INET) return "0.0.0.0";
  char text[INET_ADDRSTRLEN] = "0.0.0.0";
  inet_ntop(AF_INET, &reinterpret_cast<const struct sockaddr_in*>(sa)->sin_addr, text, sizeof text);
  return text;
}

// Default gateways by interface name, from the kernel's IPv4 routing table.
std::map<std::string, std::string> DefaultGateways() {
  std::map<std::string, std::string> gateways;
  std::ifstream in("/proc/net/route");
  std::string line;
  std::getline(in, line);  // column titles
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, dest, gw, flags;
    if (!(fields >> iface >> dest >> gw >> flags)) continue;
    unsigned long flagBits = std::strtoul(flags.c_str(), nullptr, 16);
    if (dest != "00000000" || !(flagBits & 0x2 /* RTF_GATEWAY */) || gateways.count(iface)) continue;
    struct in_addr addr;
    addr.s_addr = static_cast<in_addr_t>(std::strtoul(gw.c_str(), nullptr, 16));  // already in network order
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &addr, text, sizeof text)) gateways[iface] = text;
  }
  return gateways;
}

void CopyText(char* out, size_t capacity, const std::string& text) {
  size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

void FillAddress(IP_ADDR_STRING* entry, const std::string& address, const std::string& mask) {
  CopyText(entry->IpAddress.String, sizeof entry->IpAddress.String, address);
  CopyText(entry->IpMask.String, sizeof entry->IpMask.String, mask);
}

}  // namespace

std::vector<AdapterFacts> CollectAdapters() {
  std::vector<AdapterFacts> adapters;
  struct ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return adapters;
  std::map<std::string, AdapterFacts> byName;
  std::map<std::string, bool> loopback;
  for (struct ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
    if (!ifa->ifa_name) continue;
    std::string name = ifa->ifa_name;
    if (ifa->ifa_flags & IFF_LOOPBACK) loopback[name] = true;
    AdapterFacts& facts = byName[name];
    facts.name = name;
    if (!ifa->ifa_addr) continue;
    if (ifa->ifa_addr->sa_family == AF_PACKET) {
      const auto* ll = reinterpret_cast<const struct sockaddr_ll*>(ifa->ifa_addr);
      if (ll->sll_hatype == ARPHRD_LOOPBACK) loopback[name] = true;
      facts.index = static_cast<DWORD>(ll->sll_ifindex);
      facts.type = AdapterType(name, ll->sll_hatype);
      size_t len = std::min<size_t>(ll->sll_halen, MAX_ADAPTER_ADDRESS_LENGTH);
      facts.address.assign(ll->sll_addr, ll->sll_addr + len);
    } else if (ifa->ifa_addr->sa_family == AF_INET) {
      facts.ipv4.emplace_back(Dotted(ifa->ifa_addr), Dotted(ifa->ifa_netmask));
    }
  }
  freeifaddrs(list);
  std::map<std::string, std::string> gateways = DefaultGateways();
  for (auto& [name, facts] : byName) {
    if (loopback[name]) continue;
    if (facts.index == 0) facts.index = if_nametoindex(name.c_str());
    std::string driver = DriverName(name);
    facts.description = driver.empty() ? name : name + " (" + driver + ")";
    auto gw = gateways.find(name);
    if (gw != gateways.end()) facts.gateway = gw->second;
    adapters.push_back(std::move(facts));
  }
  std::sort(adapters.begin(), adapters.end(),
            [](const AdapterFacts& a, const AdapterFacts& b) { return a.index < b.index; });
  return adapters;
}

ULONG WriteAdapterRecords(const std::vector<AdapterFacts>& adapters, PIP_ADAPTER_INFO info, PULONG size) {
  if (!size) return ERROR_INVALID_PARAMETER;
  if (adapters.empty()) return ERROR_NO_DATA;
  size_t extraAddresses = 0;
  for (const auto& a : adapters)
    if (a.ipv4.size() > 1) extraAddresses += a.ipv4.size() - 1;
  size_t needed = adapters.size() * sizeof(IP_ADAPTER_INFO) + extraAddresses * sizeof(IP_ADDR_STRING);
  if (!info || *size < needed) {
    *size = static_cast<ULONG>(needed);
    return ERROR_BUFFER_OVERFLOW;
  }
  std::memset(info, 0, needed);
  // Further addresses of an adapter follow all the adapter records.
  auto* spare = reinterpret_cast<IP_ADDR_STRING*>(info + adapters.size());
  for (size_t i = 0; i < adapters.size(); ++i) {
    const AdapterFacts& a = adapters[i];
    IP_ADAPTER_INFO& rec = info[i];
    rec.Next = i + 1 < adapters.size() ? &info[i + 1] : nullptr;
    rec.ComboIndex = a.index;
    CopyText(rec.AdapterName, sizeof rec.AdapterName, a.name);
    CopyText(rec.Description, sizeof rec.Description, a.description);
    rec.AddressLength = static_cast<UINT>(a.address.size());
    if (!a.address.empty()) std::memcpy(rec.Address, a.address.data(), a.address.size());
    rec.Index = a.index;
    rec.Type = a.type;
    rec.DhcpEnabled = 0;
    rec.CurrentIpAddress = nullptr;
    if (a.ipv4.empty()) {
      FillAddress(&rec.IpAddressList, "0.0.0.0", "0.0.0.0");
    } else {
      FillAddress(&rec.IpAddressList, a.ipv4[0].first, a.ipv4[0].second);
      IP_ADDR_STRING* last = &rec.IpAddressList;
      for (size_t k = 1; k < a.ipv4.size(); ++k) {
        FillAddress(spare, a.ipv4[k].first, a.ipv4[k].second);
        last->Next = spare;
        last = spare++;
      }
    }
    FillAddress(&rec.GatewayList, a.gateway.empty() ? "0.0.0.0" : a.gateway, a.gateway.empty() ? "0.0.0.0" : "255.255.255.255");
    rec.HaveWins = FALSE;
  }
  return ERROR_SUCCESS;
}

}  // namespace kv::platform::net

extern "C" ULONG WINAPI GetAdaptersInfo(PIP_ADAPTER_INFO AdapterInfo, PULONG SizePointer) {
  if (!SizePointer) return ERROR_INVALID_PARAMETER;
  return kv::platform::net::WriteAdapterRecords(kv::platform::net::CollectAdapters(), AdapterInfo, SizePointer);
}
