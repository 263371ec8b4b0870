// Base64 codec of CByteBuffer.
//
// Encoding is standard padded Base64 on one line. Decoding is deliberately
// lenient and its quirks are relied upon by hosts, so they are kept exactly:
//  - Armour: any "----" in the text means PEM armour. Leading dashes are
//    skipped, the next "----" is found, the run of dashes and line breaks after
//    it is skipped, and the body ends at the following "----". Labels are not
//    looked at. Unpaired markers fail.
//  - The body is read in groups of four symbols; carriage returns, line feeds
//    and spaces before each symbol are skipped (tabs are not). The end of the
//    body reads as the pad (64) for the rest of a group.
//  - A character outside the alphabet has index 65 and goes through the same
//    arithmetic (where it behaves like the value 1); a pad in the first two
//    positions behaves like 0; a pad in position three or four only ends its
//    own group, decoding goes on after it.
//  - Nothing decoded is a failure; malformed content never is.
// Runs of pure alphabet characters go through the bulk kernels; every other
// group is decoded character by character by the rule above.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "codec/base64_kernels.h"
#include "codec/base64_wide.h"
#include "codec/byte_buffer.h"

namespace {

namespace b64 = kv::codec::base64;

constexpr int kPad = 64;
constexpr int kNotInAlphabet = 65;
constexpr size_t kDecodeSlack = 8;

struct IndexTable {
  unsigned char index[256];
  IndexTable() {
    std::memset(index, kNotInAlphabet, sizeof index);
    for (int i = 0; i < 65; ++i) index[static_cast<unsigned char>(b64::kAlphabet[i])] = static_cast<unsigned char>(i);
  }
};

const IndexTable& Indexes() {
  static const IndexTable table;
  return table;
}

inline bool IsSkipped(char c) { return c == '\r' || c == '\n' || c == ' '; }

// Narrows [*begin, *end) to the armoured body when the text is armoured.
// False when the markers do not pair up.
bool FindBody(const char* text, const char** begin, const char** end) {
  if (!std::strstr(text, "----")) return true;
  const char* p = text;
  while (*p == '-') ++p;
  const char* opening = std::strstr(p, "----");
  if (!opening) return false;
  const char* body = opening;
  while (*body == '-' || *body == '\r' || *body == '\n') ++body;
  const char* closing = std::strstr(body, "----");
  if (!closing) return false;
  *begin = body;
  *end = closing;
  return true;
}

// Decodes one group at *p by the exact rule. Returns false, writing nothing,
// when only skipped characters remain.
bool DecodeGroupExactly(const char** p, const char* end, BYTE* out, size_t* produced) {
  const IndexTable& t = Indexes();
  const char* q = *p;
  while (q < end && IsSkipped(*q)) ++q;
  if (q == end) {
    *p = q;
    return false;
  }
  int s[4];
  for (int& symbol : s) {
    while (q < end && IsSkipped(*q)) ++q;
    symbol = q < end ? t.index[static_cast<unsigned char>(*q++)] : kPad;
  }
  *p = q;
  size_t n = *produced;
  out[n++] = static_cast<BYTE>((s[0] % 64) * 4 + (s[1] / 16) % 4);
  if (s[2] != kPad) {
    out[n++] = static_cast<BYTE>((s[1] % 16) * 16 + (s[2] / 4) % 16);
    if (s[3] != kPad) out[n++] = static_cast<BYTE>((s[2] % 4) * 64 + s[3] % 64);
  }
  *produced = n;
  return true;
}

void EncodeTail(const BYTE* in, size_t n, char* out) {
  const uint32_t v = (uint32_t{in[0]} << 16) | (n > 1 ? uint32_t{in[1]} << 8 : 0u);
  out[0] = b64::kAlphabet[(v >> 18) & 63];
  out[1] = b64::kAlphabet[(v >> 12) & 63];
  out[2] = n > 1 ? b64::kAlphabet[(v >> 6) & 63] : '=';
  out[3] = '=';
}

// One line of padded Base64 of in[0, length): Base64Length(length) characters.
void EncodeNarrow(const BYTE* in, size_t length, char* text) {
  const size_t done = b64::ActiveEncodeKernel()(in, length, text);
  size_t i = done;
  char* o = text + done / 3 * 4;
  for (; length - i >= 3; i += 3, o += 4) {
    const uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    o[0] = b64::kAlphabet[v >> 18];
    o[1] = b64::kAlphabet[(v >> 12) & 63];
    o[2] = b64::kAlphabet[(v >> 6) & 63];
    o[3] = b64::kAlphabet[v & 63];
  }
  if (i < length) EncodeTail(in + i, length - i, o);
}

}  // namespace

namespace kv::codec {

void EncodeBase64Wide(const BYTE* in, size_t n, WCHAR* out) {
  // Through a small narrow buffer, so that no narrow copy of the whole text exists.
  constexpr size_t kChunk = 3 * 1024;
  char narrow[Base64Length(kChunk)];
  for (size_t at = 0; at < n; at += kChunk) {
    const size_t take = n - at < kChunk ? n - at : kChunk;
    const size_t chars = Base64Length(take);
    EncodeNarrow(in + at, take, narrow);
    for (size_t i = 0; i < chars; ++i) *out++ = static_cast<WCHAR>(narrow[i]);
  }
}

}  // namespace kv::codec

int CByteBuffer::Base64Index(char c) { return Indexes().index[static_cast<unsigned char>(c)]; }

bool CByteBuffer::EncodeBase64(const void* src, int32_t n) {
  if (!src || n <= 0) {
    Clear();
    return false;
  }
  const int64_t outSize = 4 * ((static_cast<int64_t>(n) + 2) / 3);
  if (outSize > std::numeric_limits<int32_t>::max()) {
    Clear();
    return false;
  }
  BYTE* out = AllocateForOverwrite(static_cast<int32_t>(outSize));
  if (!out) {
    Clear();
    return false;
  }
  EncodeNarrow(static_cast<const BYTE*>(src), static_cast<size_t>(n), reinterpret_cast<char*>(out));
  Adopt(out, static_cast<int32_t>(outSize));
  return true;
}

bool CByteBuffer::DecodeBase64(const char* text) {
  if (!text || !*text) {
    Clear();
    return false;
  }
  const char* begin = text;
  const char* end = text + std::strlen(text);
  if (!FindBody(text, &begin, &end)) {
    Clear();
    return false;
  }
  // Every group but the last takes at least four characters, so a body of L
  // characters yields at most 3 * ceil(L / 4) bytes.
  const size_t bodyLength = static_cast<size_t>(end - begin);
  const uint64_t bound = 3 * (static_cast<uint64_t>(bodyLength) / 4 + 1);
  const uint64_t capacity = bound + kDecodeSlack;
  if (capacity > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    Clear();
    return false;
  }
  BYTE* out = AllocateForOverwrite(static_cast<int32_t>(capacity));
  if (!out) {
    Clear();
    return false;
  }
  const b64::DecodeKernel bulk = b64::ActiveDecodeKernel();
  size_t produced = 0;
  const char* p = begin;
  while (true) {
    // Skipped characters before a group's first symbol are passed over
    // whichever path then decodes the group, so line breaks between groups
    // keep the bulk path going.
    while (p < end && IsSkipped(*p)) ++p;
    if (p == end) break;
    const size_t consumed = bulk(p, static_cast<size_t>(end - p), out + produced);
    p += consumed;
    produced += consumed / 4 * 3;
    if (consumed == 0 && !DecodeGroupExactly(&p, end, out, &produced)) break;
  }
  if (produced == 0) {
    std::free(out);
    Clear();
    return false;
  }
  Adopt(ShrinkStorage(out, static_cast<int32_t>(produced)), static_cast<int32_t>(produced));
  return true;
}
