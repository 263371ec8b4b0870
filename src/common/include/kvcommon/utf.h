// The one UTF-8 <-> UTF-16 codec of the component: the command-line host,
// the dialog scripts, the JSON reader and the stand-in's registry, name and
// encoding calls all convert through it.
//
// The lone-surrogate rule. UTF-16 strings here may hold a lone surrogate
// (BSTR arguments are arbitrary 16-bit units, and JSON "\ud800" escapes name
// one), but well-formed UTF-8 cannot. So:
//   - encoding (Utf16ToUtf8) writes a lone surrogate as U+FFFD, as the
//     system's own WideCharToMultiByte(CP_UTF8) does; everything the codec
//     writes is well-formed UTF-8 that any reader (terminal, JSON, SQLite,
//     a DER UTF8String) accepts;
//   - decoding is strict: overlong forms, encoded surrogates (ED A0..BF),
//     values above U+10FFFF, stray continuation bytes and truncated sequences
//     are not UTF-8. Utf8ToUtf16 refuses them; Utf8ToUtf16Lossy puts one
//     U+FFFD for each byte that does not start a well-formed sequence and
//     goes on with the next byte, as MultiByteToWideChar(CP_UTF8) does.
// A lone surrogate therefore lives only in UTF-16 and in JSON's \u escapes
// (kvcommon/json.h keeps strings as UTF-16 for that reason). This rule keeps
// every earlier behaviour: the host always replaced and decoded strictly; the
// registry only ever reads back what it wrote from ANSI text, which holds no
// lone surrogates.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kv {

// Length of the well-formed UTF-8 sequence at the start of `bytes` (1 to 4),
// or 0 when it does not start with one (also when it is truncated).
size_t Utf8SequenceLength(std::string_view bytes);

// Strict UTF-8 to UTF-16. False (and `out` untouched) on anything that is not
// well-formed UTF-8.
bool Utf8ToUtf16(std::string_view utf8, std::u16string* out);

// UTF-8 to UTF-16 that never fails: each byte that does not start a
// well-formed sequence becomes U+FFFD.
std::u16string Utf8ToUtf16Lossy(std::string_view utf8);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Appends the UTF-8 form of one scalar value (at most U+10FFFF, not a
// surrogate).
void AppendUtf8(char32_t codePoint, std::string* out);

// True for a high surrogate at `i` followed by a low one.
inline bool IsSurrogatePair(std::u16string_view text, size_t i) {
  return i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF && text[i + 1] >= 0xDC00 &&
         text[i + 1] <= 0xDFFF;
}

// The code point of the pair at `i` (IsSurrogatePair must hold).
inline char32_t JoinSurrogates(std::u16string_view text, size_t i) {
  return 0x10000 + ((static_cast<char32_t>(text[i]) - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
}

// Appends a code point as one or two UTF-16 units.
inline void AppendUtf16(char32_t codePoint, std::u16string* out) {
  if (codePoint >= 0x10000) {
    codePoint -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
  } else {
    out->push_back(static_cast<char16_t>(codePoint));
  }
}

}  // namespace kv
