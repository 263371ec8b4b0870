// A deliberately plain, character-at-a-time model of the lenient Base64
// decoder and of the encoder, written straight from their rules with no
// tables or bulk paths. Tests and the differential fuzz target compare the
// real codec against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv::test {

inline int ReferenceBase64Index(char c) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
  const size_t pos = alphabet.find(c);
  return (c == '\0' || pos == std::string::npos) ? 65 : static_cast<int>(pos);
}

inline std::string ReferenceEncodeBase64(const std::vector<uint8_t>& in) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    const size_t have = in.size() - i < 3 ? in.size() - i : 3;
    uint32_t v = uint32_t{in[i]} << 16;
    if (have > 1) v |= uint32_t{in[i + 1]} << 8;
    if (have > 2) v |= in[i + 2];
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += have >= 2 ? alphabet[(v >> 6) & 63] : '=';
    out += have >= 3 ? alphabet[v & 63] : '=';
  }
  return out;
}

// Returns false where the decoder fails; `out` gets the decoded bytes.
inline bool ReferenceDecodeBase64(const std::string& text, std::vector<uint8_t>* out) {
  out->clear();
  if (text.empty()) return false;
  size_t begin = 0;
  size_t end = text.size();
  if (text.find("----") != std::string::npos) {
    size_t p = 0;
    while (p < text.size() && text[p] == '-') ++p;
    size_t q = text.find("----", p);
    if (q == std::string::npos) return false;
    while (q < text.size() && (text[q] == '-' || text[q] == '\r' || text[q] == '\n')) ++q;
    const size_t r = text.find("----", q);
    if (r == std::string::npos) return false;
    begin = q;
    end = r;
  }
  auto skipped = [](char c) { return c == '\r' || c == '\n' || c == ' '; };
  size_t p = begin;
  while (true) {
    while (p < end && skipped(text[p])) ++p;
    if (p >= end) break;
    int s[4];
    for (int k = 0; k < 4; ++k) {
      while (p < end && skipped(text[p])) ++p;
      s[k] = p < end ? ReferenceBase64Index(text[p++]) : 64;
    }
    out->push_back(static_cast<uint8_t>(((s[0] % 64) * 4 + (s[1] / 16) % 4) & 0xFF));
    if (s[2] == 64) continue;
    out->push_back(static_cast<uint8_t>(((s[1] % 16) * 16 + (s[2] / 4) % 16) & 0xFF));
    if (s[3] == 64) continue;
    out->push_back(static_cast<uint8_t>(((s[2] % 4) * 64 + s[3] % 64) & 0xFF));
  }
  return !out->empty();
}

}  // namespace kv::test
