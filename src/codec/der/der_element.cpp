// CDerElement: value setting, object identifiers, header encoding and parsing.
#include "codec/der/der_element.h"

#include <cstring>

namespace kv::der {

bool ReadLength(const BYTE* p, int64_t available, int64_t* contentLength, int* lengthOctets) {
  if (available < 1) return false;
  const BYTE first = p[0];
  if (first < 0x80) {
    *contentLength = first;
    *lengthOctets = 1;
    return true;
  }
  const int n = first & 0x7F;
  if (n == 0 || n > 4 || available < 1 + n) return false;
  int64_t value = 0;
  for (int i = 1; i <= n; ++i) value = (value << 8) | p[i];
  if (value > INT32_MAX) return false;
  *contentLength = value;
  *lengthOctets = 1 + n;
  return true;
}

}  // namespace kv::der

void CDerElement::Clear() {
  m_input = nullptr;
  m_inputLength = 0;
  m_valueView = nullptr;
  m_valueViewLength = 0;
  m_encodedLength = 0;
  m_tagNumber = 0;
  m_classBits = 0;
  m_cursor = 0;
  m_leadingByte = 0;
  m_hasLeadingByte = false;
  m_value.Clear();
}

const BYTE* CDerElement::Content() const { return m_value.Bytes() != nullptr ? m_value.Bytes() : m_valueView; }

int32_t CDerElement::ContentLength() const {
  return m_value.Bytes() != nullptr ? int32_t(m_value.Length()) : m_valueViewLength;
}

BYTE CDerElement::SetValue(const void* bytes, int32_t length, int32_t tagNumber, bool addLeadingByte) {
  m_value.Clear();
  // A built value replaces whatever was parsed before.
  m_valueView = nullptr;
  m_valueViewLength = 0;
  m_tagNumber = tagNumber;
  m_leadingByte = 0;
  m_hasLeadingByte = false;
  if (length < 0 || (length > 0 && bytes == nullptr)) return 0;
  const BYTE* p = static_cast<const BYTE*>(bytes);
  if (addLeadingByte) {
    if (tagNumber == kDerInteger && length > 0 && p[0] >= 0x80) m_hasLeadingByte = true;
    if (tagNumber == kDerBitString) m_hasLeadingByte = true;
  }
  if (length > 0 && !m_value.Assign(p, length)) return 0;
  return 1;
}

BYTE CDerElement::SetInteger(const void* bytes, int32_t length) {
  if (bytes == nullptr || length <= 0) return 0;
  const BYTE* p = static_cast<const BYTE*>(bytes);
  while (length > 1 && p[0] == 0) {
    ++p;
    --length;
  }
  return SetValue(p, length, kDerInteger, true);
}

BYTE CDerElement::SetOid(const char* text) {
  constexpr int kMaxContent = 25;
  if (text == nullptr || text[0] < '0' || text[0] > '2') return 0;
  auto isSeparator = [](char c) { return c == '.' || c == ' '; };
  if (!isSeparator(text[1])) return 0;
  const uint64_t firstArc = uint64_t(text[0] - '0');

  BYTE content[kMaxContent];
  int used = 0;
  bool first = true;
  const char* p = text + 2;
  for (;;) {
    if (*p < '0' || *p > '9') return 0;  // every arc has at least one digit
    uint64_t arc = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
      const uint64_t digit = uint64_t(*p - '0');
      if (arc > (UINT64_MAX - digit) / 10) return 0;
      arc = arc * 10 + digit;
    }
    if (*p != '\0' && !isSeparator(*p)) return 0;
    uint64_t subidentifier = arc;
    if (first) {
      // Below arcs 0 and 1 only 0-39 exist; 40 or more would encode an arc of 2.
      if (firstArc < 2 && arc >= 40) return 0;
      if (arc > UINT64_MAX - 80) return 0;
      subidentifier = firstArc * 40 + arc;
      first = false;
    }
    BYTE groups[10];
    int count = 0;
    do {
      groups[count++] = BYTE(subidentifier & 0x7F);
      subidentifier >>= 7;
    } while (subidentifier != 0);
    if (used + count > kMaxContent) return 0;
    while (count > 0) {
      --count;
      content[used++] = BYTE(groups[count] | (count > 0 ? 0x80 : 0x00));
    }
    if (*p == '\0') break;
    ++p;
  }
  m_classBits = kDerUniversal;
  return SetValue(content, used, kDerObjectIdentifier, false);
}

BYTE CDerElement::EncodeTo(CDerBlob* out, int32_t tagNumber, BYTE classBits) {
  if (out == nullptr || out == &m_value) return 0;
  if (tagNumber < 0 || tagNumber >= 31 || (classBits & 0x1F) != 0) return 0;
  m_tagNumber = tagNumber;
  m_classBits = classBits;
  const BYTE identifier = BYTE(classBits | tagNumber);
  if (identifier == 0x03) m_hasLeadingByte = true;

  const BYTE* content = Content();
  const int64_t contentLength = content != nullptr ? ContentLength() : 0;
  const int64_t length = contentLength + (m_hasLeadingByte ? 1 : 0);
  if (length > int64_t(CDerBlob::kMaxLength)) return 0;

  BYTE header[7];
  int headerLength = 0;
  header[headerLength++] = identifier;
  if (length < 128) {
    header[headerLength++] = BYTE(length);
  } else {
    int n = 0;
    for (int64_t rest = length; rest != 0; rest >>= 8) ++n;
    header[headerLength++] = BYTE(0x80 | n);
    for (int i = n - 1; i >= 0; --i) header[headerLength++] = BYTE(length >> (8 * i));
  }
  if (!out->Append(header, headerLength)) return 0;
  if (m_hasLeadingByte && !out->Append(&m_leadingByte, 1)) return 0;
  if (contentLength > 0 && !out->Append(content, int32_t(contentLength))) return 0;
  return 1;
}

BYTE CDerElement::ParseHeader(const BYTE* input, int32_t length, int32_t expectedTag, BYTE expectedClass) {
  Clear();
  if (input == nullptr || length < 2) return 0;
  m_input = input;
  m_inputLength = length;
  const BYTE identifier = input[0];
  m_classBits = BYTE(identifier & 0xE0);
  m_tagNumber = identifier & 0x1F;
  if (m_classBits != expectedClass) return 0;

  int64_t at = 1;
  if (m_tagNumber == 31) {
    // High tag numbers: base-128 groups while the high bit is set.
    int64_t tag = 0;
    for (int groups = 0;; ++groups) {
      if (at >= length || groups == 4) return 0;
      const BYTE b = input[at++];
      tag = (tag << 7) | (b & 0x7F);
      if ((b & 0x80) == 0) break;
    }
    m_tagNumber = int32_t(tag);
  }
  if (expectedTag != 0 && m_tagNumber != expectedTag) return 0;

  int64_t contentLength = 0;
  int lengthOctets = 0;
  if (!kv::der::ReadLength(input + at, length - at, &contentLength, &lengthOctets)) return 0;
  at += lengthOctets;
  if (contentLength > length - at) return 0;
  m_encodedLength = int32_t(at + contentLength);

  const BYTE* content = input + at;
  int32_t viewLength = int32_t(contentLength);
  if (viewLength > 0 && (identifier == 0x03 || (identifier == 0x04 && content[0] == 0x00))) {
    m_leadingByte = content[0];
    m_hasLeadingByte = true;
    ++content;
    --viewLength;
  }
  if (viewLength > 0) {
    m_valueView = content;
    m_valueViewLength = viewLength;
  }
  return 1;
}
