// The UTF-8 <-> UTF-16 codec (the lone-surrogate rule is in kvcommon/utf.h).
#include "kvcommon/utf.h"

namespace kv {

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes the sequence at the start of `bytes`: its length and code point, or
// 0 when it is not well-formed.
size_t Decode(std::string_view bytes, char32_t* codePoint) {
  if (bytes.empty()) return 0;
  const unsigned char c = static_cast<unsigned char>(bytes[0]);
  char32_t cp;
  size_t extra;
  if (c < 0x80) {
    *codePoint = c;
    return 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    cp = c & 0x1F;
    extra = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    cp = c & 0x0F;
    extra = 2;
  } else if (c >= 0xF0 && c <= 0xF4) {
    cp = c & 0x07;
    extra = 3;
  } else {
    return 0;
  }
  if (bytes.size() - 1 < extra) return 0;
  for (size_t k = 1; k <= extra; ++k) {
    const unsigned char t = static_cast<unsigned char>(bytes[k]);
    if (!IsContinuation(t)) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  if (extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
  if (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
  *codePoint = cp;
  return extra + 1;
}

}  // namespace

size_t Utf8SequenceLength(std::string_view bytes) {
  char32_t ignored;
  return Decode(bytes, &ignored);
}

namespace {

// Decodes all of `utf8`; a byte that does not start a well-formed sequence
// becomes U+FFFD when `replace`, else ends the decoding with false.
bool DecodeAll(std::string_view utf8, bool replace, std::u16string* out) {
  out->reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = 0xFFFD;
    size_t n = Decode(utf8.substr(i), &cp);
    if (n == 0) {
      if (!replace) return false;
      cp = 0xFFFD;
      n = 1;
    }
    AppendUtf16(cp, out);
    i += n;
  }
  return true;
}

}  // namespace

bool Utf8ToUtf16(std::string_view utf8, std::u16string* out) {
  std::u16string result;
  if (!DecodeAll(utf8, false, &result)) return false;
  out->swap(result);
  return true;
}

std::u16string Utf8ToUtf16Lossy(std::string_view utf8) {
  std::u16string result;
  DecodeAll(utf8, true, &result);
  return result;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsSurrogatePair(text, i)) {
      AppendUtf8(JoinSurrogates(text, i), &out);
      ++i;
    } else if (text[i] >= 0xD800 && text[i] <= 0xDFFF) {
      AppendUtf8(0xFFFD, &out);
    } else {
      AppendUtf8(text[i], &out);
    }
  }
  return out;
}

}  // namespace kv
