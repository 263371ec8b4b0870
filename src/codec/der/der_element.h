// CDerElement: one DER element (ITU-T X.690), either built in memory (tag and
// value, encoded with EncodeTo) or parsed from an input buffer (a header and a
// view of the content inside that buffer, which must outlive the element).
//
// Operations return 1 for success and 0 for failure. Parsing never reads
// outside [input, input + length).
#pragma once

#include <windows.h>

#include <cstdint>

#include "codec/der/der_blob.h"

// Identifier classes (the high three bits of the identifier byte).
enum : BYTE {
  kDerUniversal = 0x00,
  kDerUniversalConstructed = 0x20,
  kDerContext = 0x80,
  kDerContextConstructed = 0xA0,
};

// Universal tag numbers the codec's users work with.
enum : int32_t {
  kDerInteger = 2,
  kDerBitString = 3,
  kDerOctetString = 4,
  kDerNull = 5,
  kDerObjectIdentifier = 6,
  kDerSequence = 16,
  kDerSet = 17,
  kDerUtcTime = 23,
};

class CDerElement {
 public:
  CDerElement() = default;
  virtual ~CDerElement() = default;
  CDerElement(const CDerElement&) = delete;
  CDerElement& operator=(const CDerElement&) = delete;

  // Building.
  [[nodiscard]] BYTE SetValue(const void* bytes, int32_t length, int32_t tagNumber, bool addLeadingByte);
  [[nodiscard]] BYTE SetInteger(const void* bytes, int32_t length);
  [[nodiscard]] BYTE SetOid(const char* text);
  // Appends identifier, length, leading byte and value to `out`.
  [[nodiscard]] BYTE EncodeTo(CDerBlob* out, int32_t tagNumber, BYTE classBits);

  // Parsing.
  [[nodiscard]] BYTE ParseHeader(const BYTE* input, int32_t length, int32_t expectedTag, BYTE expectedClass);

  virtual void Clear();

  // The content: the built value when it has storage, else the parsed view
  // (without the leading byte in both cases).
  const BYTE* Content() const;
  int32_t ContentLength() const;

  int32_t TagNumber() const { return m_tagNumber; }
  BYTE ClassBits() const { return m_classBits; }
  bool HasLeadingByte() const { return m_hasLeadingByte; }
  BYTE LeadingByte() const { return m_leadingByte; }
  const BYTE* Input() const { return m_input; }
  int32_t InputLength() const { return m_inputLength; }
  const BYTE* ValueView() const { return m_valueView; }
  int32_t ValueViewLength() const { return m_valueViewLength; }
  // Header, leading byte and content of the parsed element.
  int32_t EncodedLength() const { return m_encodedLength; }
  // The scratch value composite structures encode their members into.
  CDerBlob& Value() { return m_value; }
  const CDerBlob& Value() const { return m_value; }

 protected:
  const BYTE* m_input = nullptr;
  int32_t m_inputLength = 0;
  const BYTE* m_valueView = nullptr;
  int32_t m_valueViewLength = 0;
  int32_t m_encodedLength = 0;
  int32_t m_tagNumber = 0;
  BYTE m_classBits = 0;
  int32_t m_cursor = 0;
  BYTE m_leadingByte = 0;
  bool m_hasLeadingByte = false;
  CDerBlob m_value;
};

namespace kv::der {

// Reads the length octets at p (at most `available` bytes). On success stores
// the content length and the number of length octets. Refuses the indefinite
// form and lengths beyond a signed 32-bit number.
[[nodiscard]] bool ReadLength(const BYTE* p, int64_t available, int64_t* contentLength, int* lengthOctets);

}  // namespace kv::der
