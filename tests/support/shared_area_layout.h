// Reads the shared key/value area straight from its bytes, as the format
// lays it out (a count and the area's size, then entries of a 40-unit
// UTF-16 key, a 32-bit length and the value), independently of the class
// that writes it, so tests can pin the layout byte for byte.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sign/shared_memory.h"

namespace kv::test {

inline DWORD LeDword(const BYTE* p) {
  return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24;
}

struct StoredEntry {
  std::string key;    // the key's low bytes: the tests use ASCII keys
  bool keyIsAscii = true;  // no unit of the key had a high byte
  std::string value;  // the value's bytes as they stand
};

// The area's entries in order; *end is the offset just past the last one.
inline std::vector<StoredEntry> ReadAreaEntries(const cSharedMemory& area, DWORD* end) {
  const BYTE* v = area.View();
  std::vector<StoredEntry> out;
  DWORD offset = 8;
  for (DWORD i = 0; i < LeDword(v); ++i) {
    StoredEntry e;
    for (int u = 0; u < 40 && (v[offset + 2 * u] || v[offset + 2 * u + 1]); ++u) {
      if (v[offset + 2 * u + 1]) e.keyIsAscii = false;
      e.key += static_cast<char>(v[offset + 2 * u]);
    }
    const DWORD length = LeDword(v + offset + 80);
    e.value.assign(reinterpret_cast<const char*>(v + offset + 84), length);
    out.push_back(e);
    offset += 84 + length;
  }
  *end = offset;
  return out;
}

// True when every byte from `from` to the end of the area is zero.
inline bool AreaZeroFrom(const cSharedMemory& area, DWORD from) {
  for (DWORD i = from; i < area.AreaSize(); ++i)
    if (area.View()[i]) return false;
  return true;
}

}  // namespace kv::test
