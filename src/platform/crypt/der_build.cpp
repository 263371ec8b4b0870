// DER writing and span reading for the crypt calls.
#include "crypt/der_build.h"

#include <cstdlib>

namespace kv::platform::crypt {

Bytes DerElement(BYTE tag, const BYTE* content, size_t size) {
  Bytes out;
  out.reserve(size + 6);
  out.push_back(tag);
  if (size < 0x80) {
    out.push_back(static_cast<BYTE>(size));
  } else {
    BYTE lenBytes[8];
    int n = 0;
    for (size_t v = size; v; v >>= 8) lenBytes[n++] = static_cast<BYTE>(v & 0xFF);
    out.push_back(static_cast<BYTE>(0x80 | n));
    while (n) out.push_back(lenBytes[--n]);
  }
  out.insert(out.end(), content, content + size);
  return out;
}

Bytes DerElement(BYTE tag, const Bytes& content) { return DerElement(tag, content.data(), content.size()); }

Bytes DerConcat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes DerSequence(std::initializer_list<Bytes> parts) { return DerElement(0x30, DerConcat(parts)); }

bool DerOid(const char* dotted, Bytes* out) {
  if (!dotted || !*dotted) return false;
  std::vector<uint64_t> arcs;
  const char* p = dotted;
  while (*p) {
    if (*p < '0' || *p > '9') return false;
    char* end = nullptr;
    uint64_t arc = std::strtoull(p, &end, 10);
    arcs.push_back(arc);
    p = end;
    if (*p == '.') {
      ++p;
      if (!*p) return false;
    } else if (*p) {
      return false;
    }
  }
  if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39)) return false;
  Bytes content;
  auto put = [&content](uint64_t v) {
    BYTE tmp[10];
    int n = 0;
    do {
      tmp[n++] = static_cast<BYTE>(v & 0x7F);
      v >>= 7;
    } while (v);
    while (n > 1) content.push_back(static_cast<BYTE>(tmp[--n] | 0x80));
    content.push_back(tmp[0]);
  };
  put(arcs[0] * 40 + arcs[1]);
  for (size_t i = 2; i < arcs.size(); ++i) put(arcs[i]);
  *out = DerElement(0x06, content);
  return true;
}

Bytes DerUnsignedInteger(const BYTE* bigEndian, size_t size) {
  while (size > 1 && bigEndian[0] == 0) {
    ++bigEndian;
    --size;
  }
  Bytes content;
  if (size == 0 || (bigEndian[0] & 0x80)) content.push_back(0);
  content.insert(content.end(), bigEndian, bigEndian + size);
  return DerElement(0x02, content);
}

Bytes DerSmallInteger(DWORD value) {
  BYTE be[4] = {static_cast<BYTE>(value >> 24), static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 8),
                static_cast<BYTE>(value)};
  return DerUnsignedInteger(be, 4);
}

bool DerSpan::Next(BYTE* tag, DerSpan* content, DerSpan* whole) {
  if (size_ < 2) return false;
  BYTE t = data_[0];
  if ((t & 0x1F) == 0x1F) return false;  // high tag numbers are not used here
  size_t pos = 2, len = data_[1];
  if (len & 0x80) {
    size_t n = len & 0x7F;
    if (n == 0 || n > 4 || size_ < 2 + n) return false;  // indefinite or oversized
    len = 0;
    for (size_t i = 0; i < n; ++i) len = (len << 8) | data_[2 + i];
    pos = 2 + n;
  }
  if (len > size_ - pos) return false;
  if (tag) *tag = t;
  if (content) *content = DerSpan(data_ + pos, len);
  if (whole) *whole = DerSpan(data_, pos + len);
  data_ += pos + len;
  size_ -= pos + len;
  return true;
}

bool DerSpan::Expect(BYTE tag, DerSpan* content, DerSpan* whole) {
  if (PeekTag() != tag) return false;
  return Next(nullptr, content, whole);
}

std::string OidText(const DerSpan& content) {
  if (content.empty()) return {};
  std::string out;
  uint64_t value = 0;
  bool first = true;
  for (size_t i = 0; i < content.size(); ++i) {
    BYTE b = content.data()[i];
    if (value > (UINT64_MAX >> 7)) return {};
    value = (value << 7) | (b & 0x7F);
    if (b & 0x80) {
      if (i + 1 == content.size()) return {};
      continue;
    }
    if (first) {
      uint64_t top = value < 40 ? 0 : value < 80 ? 1 : 2;
      out = std::to_string(top) + "." + std::to_string(value - top * 40);
      first = false;
    } else {
      out += "." + std::to_string(value);
    }
    value = 0;
  }
  return out;
}

}  // namespace kv::platform::crypt
