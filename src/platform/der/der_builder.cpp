// DER writing for the encoding, message and envelope calls.
#include "der/der_builder.h"

#include <algorithm>
#include <string>

#include "der/der_span.h"

namespace kv::platform::der {

Bytes Element(BYTE tag, const BYTE* content, size_t size) {
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
  if (size) out.insert(out.end(), content, content + size);
  return out;
}

Bytes Element(BYTE tag, const Bytes& content) { return Element(tag, content.data(), content.size()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Sequence(std::initializer_list<Bytes> parts) { return Element(kSequence, Concat(parts)); }

Bytes SetOf(std::vector<Bytes> elements) {
  std::sort(elements.begin(), elements.end());
  Bytes content;
  for (const Bytes& e : elements) content.insert(content.end(), e.begin(), e.end());
  return Element(kSet, content);
}

bool Oid(const char* dotted, Bytes* out) {
  Bytes content;
  if (!dotted || !TextToOid(dotted, &content)) return false;
  *out = Element(kOid, content);
  return true;
}

Bytes UnsignedInteger(const BYTE* bigEndian, size_t size) {
  while (size > 1 && bigEndian[0] == 0) {
    ++bigEndian;
    --size;
  }
  Bytes content;
  if (size == 0 || (bigEndian[0] & 0x80)) content.push_back(0);
  content.insert(content.end(), bigEndian, bigEndian + size);
  return Element(kInteger, content);
}

Bytes SmallInteger(DWORD value) {
  BYTE be[4] = {static_cast<BYTE>(value >> 24), static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 8),
                static_cast<BYTE>(value)};
  return UnsignedInteger(be, 4);
}

}  // namespace kv::platform::der
