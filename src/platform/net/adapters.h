// The machine's network adapters as GetAdaptersInfo reports them: the facts
// gathered from the kernel, and their layout as chained IP_ADAPTER_INFO
// records in a caller's buffer.
#pragma once

#include <windows.h>
#include <iphlpapi.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kv::platform::net {

struct AdapterFacts {
  std::string name;         // the kernel's interface name, e.g. eth0
  std::string description;  // name and driver
  std::vector<uint8_t> address;
  DWORD index = 0;
  UINT type = MIB_IF_TYPE_OTHER;
  std::vector<std::pair<std::string, std::string>> ipv4;  // dotted address and mask
  std::string gateway;                                    // dotted, or empty
};

// Every interface except loopback ones, in the order of their interface
// index.
std::vector<AdapterFacts> CollectAdapters();

// Lays `adapters` out in `info` with the rules of GetAdaptersInfo.
ULONG WriteAdapterRecords(const std::vector<AdapterFacts>& adapters, PIP_ADAPTER_INFO info, PULONG size);

}  // namespace kv::platform::net
