// CDerReader: walking the children of a parsed element.
#include "codec/der/der_reader.h"

void CDerReader::Clear() {
  CDerElement::Clear();
  m_children.clear();
}

BYTE CDerReader::Parse(const BYTE* input, int32_t length, int32_t expectedTag, BYTE expectedClass) {
  const BYTE parsed = ParseHeader(input, length, expectedTag, expectedClass);
  m_cursor = 0;
  return parsed;
}

BYTE CDerReader::NextChild(const BYTE** child, int32_t* length) {
  if (child == nullptr || length == nullptr) return 0;
  *child = nullptr;
  *length = 0;
  if (m_classBits == kDerUniversal) return 0;
  const int64_t remaining = int64_t(m_valueViewLength) - m_cursor;
  if (remaining <= 0) return 0;
  const BYTE* start = m_valueView + m_cursor;
  if (remaining < 2) return 0;
  int64_t contentLength = 0;
  int lengthOctets = 0;
  if (!kv::der::ReadLength(start + 1, remaining - 1, &contentLength, &lengthOctets)) return 0;
  const int64_t total = 1 + lengthOctets + contentLength;
  if (total > remaining) return 0;
  *child = start;
  *length = int32_t(total);
  m_cursor += int32_t(total);
  return 1;
}

BYTE CDerReader::ParseList(const BYTE* input, int32_t length, int32_t expectedTag, BYTE expectedClass) {
  m_children.clear();
  if (!Parse(input, length, expectedTag, expectedClass)) return 0;
  const BYTE* child = nullptr;
  int32_t childLength = 0;
  while (NextChild(&child, &childLength)) m_children.push_back(Child{child, childLength});
  return AtEnd() ? 1 : 0;
}
