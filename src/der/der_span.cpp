// DER element reading and object identifiers; errors are the numbers
// Windows's decoder reports.
#include "der/der_span.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace kv::der {

bool Span::ReadAny(uint8_t* tag, Span* contents, Span* whole) {
  if (size_ < 2) return Fail(CRYPT_E_ASN1_EOD);
  uint8_t t = data_[0];
  if ((t & 0x1F) == 0x1F) return Fail(CRYPT_E_ASN1_BADTAG);  // multi-byte tags are never used here
  size_t header = 2;
  size_t length = data_[1];
  if (length & 0x80) {
    size_t count = length & 0x7F;
    // Indefinite lengths are BER only; more than four length bytes is never a certificate.
    if (count == 0 || count > 4) return Fail(CRYPT_E_ASN1_CORRUPT);
    if (size_ < 2 + count) return Fail(CRYPT_E_ASN1_EOD);
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | data_[2 + i];
    header += count;
  }
  if (length > size_ - header) return Fail(CRYPT_E_ASN1_EOD);
  if (tag) *tag = t;
  if (contents) *contents = Span(data_ + header, length);
  if (whole) *whole = Span(data_, header + length);
  data_ += header + length;
  size_ -= header + length;
  return true;
}

bool Span::Read(uint8_t tag, Span* contents, Span* whole) {
  if (size_ == 0) return Fail(CRYPT_E_ASN1_EOD);
  if (data_[0] != tag) return Fail(CRYPT_E_ASN1_BADTAG);
  Span copy = *this;
  uint8_t t;
  if (!copy.ReadAny(&t, contents, whole)) return Fail(copy.error());
  *this = copy;
  return true;
}

bool Span::ReadOptional(uint8_t tag, Span* contents, bool* present, Span* whole) {
  *present = false;
  if (size_ == 0 || data_[0] != tag) return true;
  *present = true;
  return Read(tag, contents, whole);
}

bool OidToText(Span contents, std::string* text) {
  text->clear();
  if (contents.empty()) return false;
  const uint8_t* p = contents.data();
  size_t n = contents.size();
  uint64_t value = 0;
  bool first = true;
  for (size_t i = 0; i < n; ++i) {
    if (value > (UINT64_MAX >> 7)) return false;
    if (value == 0 && p[i] == 0x80) return false;  // non-minimal encoding
    value = (value << 7) | (p[i] & 0x7F);
    if (p[i] & 0x80) {
      if (i + 1 == n) return false;
      continue;
    }
    char buf[48];
    if (first) {
      unsigned head = value < 40 ? 0 : value < 80 ? 1 : 2;
      snprintf(buf, sizeof buf, "%u.%llu", head, static_cast<unsigned long long>(value - head * 40));
      first = false;
    } else {
      snprintf(buf, sizeof buf, ".%llu", static_cast<unsigned long long>(value));
    }
    *text += buf;
    value = 0;
  }
  return true;
}

bool TextToOid(const std::string& text, std::vector<uint8_t>* contents) {
  contents->clear();
  std::vector<uint64_t> arcs;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t dot = text.find('.', pos);
    std::string part = text.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
    if (part.empty() || part.size() > 18) return false;
    for (char c : part)
      if (c < '0' || c > '9') return false;
    arcs.push_back(std::strtoull(part.c_str(), nullptr, 10));
    if (dot == std::string::npos) break;
    pos = dot + 1;
  }
  if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40)) return false;
  auto put = [contents](uint64_t v) {
    uint8_t tmp[10];
    int n = 0;
    do {
      tmp[n++] = static_cast<uint8_t>(v & 0x7F);
      v >>= 7;
    } while (v);
    while (n > 1) contents->push_back(tmp[--n] | 0x80);
    contents->push_back(tmp[0]);
  };
  put(arcs[0] * 40 + arcs[1]);
  for (size_t i = 2; i < arcs.size(); ++i) put(arcs[i]);
  return true;
}

DWORD ExpectedElementError(Span at, uint8_t expectedTag) {
  if (at.size() < 2) return static_cast<DWORD>(CRYPT_E_ASN1_EOD);
  if (at.PeekTag() != expectedTag) return static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
  return static_cast<DWORD>(at.ReadAny(nullptr, nullptr) ? CRYPT_E_ASN1_CORRUPT : CRYPT_E_ASN1_EOD);
}

}  // namespace kv::der
