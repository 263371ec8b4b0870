// UTF-8 and UTF-16 conversions of the host: strict on input (the shell and
// JSON text must be valid UTF-8), lossless where UTF-16 can carry what
// UTF-8 cannot (lone surrogates from JSON escapes pass through).
#pragma once

#include <string>

namespace korvessa {

// Decodes strict UTF-8 (no overlong forms, no encoded surrogates, nothing
// above U+10FFFF). False on invalid input.
bool Utf8ToUtf16(const std::string& utf8, std::u16string* out);

// Encodes UTF-16; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// Appends the UTF-8 form of one code point (at most U+10FFFF).
void AppendUtf8(char32_t codePoint, std::string* out);

}  // namespace korvessa
