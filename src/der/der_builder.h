// The one DER writer (the stand-in's calls and the engine's messages). Elements are written straight into one
// buffer: Open leaves a one-byte length in front of the content and Close
// patches it (moving the content along when the length needs more bytes),
// so nested structures are built in one pass without copying each level's
// content into its parent. Reading is der/der_span.h.
//
//   Builder b;
//   b.Open(kSequence);
//   if (!b.AddOid("1.2.840.113549.1.1.1")) ...
//   b.AddNull();
//   b.Close();
//   Bytes out;
//   if (!b.Finish(&out)) ...
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "der/der_span.h"

namespace kv::der {

using Bytes = std::vector<BYTE>;

class Builder {
 public:
  // Starts an element; everything added until the matching Close is its
  // content. OpenSetOf starts a SET OF whose elements Close sorts by their
  // encodings, as DER requires.
  void Open(uint8_t tag);
  void OpenSetOf(uint8_t tag = kSet);
  // Ends the innermost open element and writes its length.
  void Close();

  // A whole element: tag, length, content.
  void Add(uint8_t tag, const BYTE* content, size_t size);
  void Add(uint8_t tag, const Bytes& content) { Add(tag, content.data(), content.size()); }
  // Bytes that are already DER (an element, or several one after another).
  void AddEncoded(const BYTE* encoded, size_t size);
  void AddEncoded(const Bytes& encoded) { AddEncoded(encoded.data(), encoded.size()); }
  // OBJECT IDENTIFIER from "1.2.840..."; false (and Finish fails) when the
  // text is not one.
  bool AddOid(const char* dotted);
  // INTEGER from an unsigned big-endian magnitude (a zero byte added when the
  // top bit is set, leading zeros dropped).
  void AddUnsignedInteger(const BYTE* bigEndian, size_t size);
  void AddSmallInteger(DWORD value);
  // BIT STRING of whole bytes, `unusedBits` (0-7) of the last one unused.
  void AddBitString(const BYTE* bytes, size_t size, BYTE unusedBits = 0);
  void AddNull() { Add(kNull, nullptr, 0); }

  // The encoding, when every element was closed and nothing failed. The
  // builder is empty again afterwards.
  [[nodiscard]] bool Finish(Bytes* out);

 private:
  struct OpenElement {
    size_t lengthAt;  // offset of the one-byte length placeholder
    bool sorted;
  };
  void SortElements(size_t from);

  Bytes out_;
  std::vector<OpenElement> open_;
  bool failed_ = false;
};

}  // namespace kv::der
