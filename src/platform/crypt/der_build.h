// A small DER writer and reader for the encoding and message calls: tagged
// elements with definite lengths, object identifiers from dotted text, and
// bounds-checked reading through non-owning spans.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kv::platform::crypt {

using Bytes = std::vector<BYTE>;

// tag || length || content.
Bytes DerElement(BYTE tag, const Bytes& content);
Bytes DerElement(BYTE tag, const BYTE* content, size_t size);
Bytes DerSequence(std::initializer_list<Bytes> parts);
Bytes DerConcat(std::initializer_list<Bytes> parts);
// OBJECT IDENTIFIER from "1.2.840..."; false when the text is not an OID.
bool DerOid(const char* dotted, Bytes* out);
// INTEGER from an unsigned big-endian magnitude (a zero byte added when the
// top bit is set, leading zeros dropped).
Bytes DerUnsignedInteger(const BYTE* bigEndian, size_t size);
Bytes DerSmallInteger(DWORD value);
inline Bytes DerNull() { return Bytes{0x05, 0x00}; }

// A read-only view of DER bytes.
class DerSpan {
 public:
  DerSpan() = default;
  DerSpan(const BYTE* data, size_t size) : data_(data), size_(size) {}
  const BYTE* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Reads the next element: its tag, its content, and (optionally) the whole
  // element with its header. Definite lengths only.
  [[nodiscard]] bool Next(BYTE* tag, DerSpan* content, DerSpan* whole = nullptr);
  // Reads the next element, which must carry `tag`.
  [[nodiscard]] bool Expect(BYTE tag, DerSpan* content, DerSpan* whole = nullptr);
  // The tag of the next element without consuming it; 0 when empty.
  BYTE PeekTag() const { return size_ ? data_[0] : 0; }
  Bytes ToBytes() const { return Bytes(data_, data_ + size_); }

 private:
  const BYTE* data_ = nullptr;
  size_t size_ = 0;
};

// Dotted text of an OBJECT IDENTIFIER's content; empty when malformed.
std::string OidText(const DerSpan& content);

}  // namespace kv::platform::crypt
