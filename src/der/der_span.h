// The one DER reader, shared by the stand-in's certificate, encoding and
// message calls and by the engine's own message assembly: a non-owning span
// over DER bytes. Each read either consumes one
// well-formed element (definite length, checked against what is left of its
// parent) and advances, or fails, leaves the span where it was and records
// the Windows decoding error (CRYPT_E_ASN1_*) the failing call reports.
// Writing is der/der_builder.h.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::der {

// Universal tags, as the first byte of an element.
enum : uint8_t {
  kBoolean = 0x01,
  kInteger = 0x02,
  kBitString = 0x03,
  kOctetString = 0x04,
  kNull = 0x05,
  kOid = 0x06,
  kUtf8String = 0x0C,
  kNumericString = 0x12,
  kPrintableString = 0x13,
  kT61String = 0x14,
  kVideotexString = 0x15,
  kIa5String = 0x16,
  kUtcTime = 0x17,
  kGeneralizedTime = 0x18,
  kGraphicString = 0x19,
  kVisibleString = 0x1A,
  kGeneralString = 0x1B,
  kUniversalString = 0x1C,
  kBmpString = 0x1E,
  kSequence = 0x30,
  kSet = 0x31,
  kContext0 = 0xA0,
  kContext1 = 0xA1,
  kContext2 = 0xA2,
  kContext3 = 0xA3,
};

class Span {
 public:
  Span() = default;
  Span(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The Windows error of the last failed read (0 when none failed).
  HRESULT error() const { return error_; }

  // Tag of the next element, or -1 at the end.
  int PeekTag() const { return size_ ? data_[0] : -1; }

  // Reads one element with the given tag; `contents` gets its value bytes,
  // `whole` (optional) the element including tag and length.
  [[nodiscard]] bool Read(uint8_t tag, Span* contents, Span* whole = nullptr);
  // Reads one element of any single-byte tag.
  [[nodiscard]] bool ReadAny(uint8_t* tag, Span* contents, Span* whole = nullptr);
  // Reads an optional element: absent is success with *present false.
  [[nodiscard]] bool ReadOptional(uint8_t tag, Span* contents, bool* present, Span* whole = nullptr);

  std::vector<uint8_t> ToVector() const { return std::vector<uint8_t>(data_, data_ + size_); }

 private:
  bool Fail(HRESULT hr) {
    error_ = hr;
    return false;
  }
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  HRESULT error_ = 0;
};

// The decoding error Windows reports where an element with `expectedTag`
// was wanted at `at`: CRYPT_E_ASN1_EOD when too little is left,
// CRYPT_E_ASN1_BADTAG for another tag, CRYPT_E_ASN1_CORRUPT otherwise.
DWORD ExpectedElementError(Span at, uint8_t expectedTag);

// Dotted text of an OBJECT IDENTIFIER's contents; false when malformed.
[[nodiscard]] bool OidToText(Span contents, std::string* text);
// Contents of an OBJECT IDENTIFIER for dotted text; false when malformed.
[[nodiscard]] bool TextToOid(const std::string& text, std::vector<uint8_t>* contents);

}  // namespace kv::der
