// Per-character conversion tables for the stateless code pages (the
// double-byte 932, 936, 950 and the single-byte ones). iconv answers
// each character once, the first time it is met; after that a conversion is
// a table lookup. Since these code pages carry no shift state, converting a
// text character by character gives exactly what iconv gives for the whole
// text, and the conversions keep iconv's answers for every value.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace kv::platform {

// iconv's name for a Windows code page, or "" when it has none.
std::string IconvCodePageName(UINT codePage);

class CodePageTable {
 public:
  // The table of `codePage` (already resolved from CP_ACP and the like), or
  // null for code pages it does not serve (UTF-8, UTF-7, unknown ones).
  static CodePageTable* For(UINT codePage);

  // The bytes of one UTF-16 code unit: 1 or 2, written to out[0..]; 0 when
  // the code page has no such character (a lone surrogate among them).
  int Narrow(char16_t unit, char out[2]);

  // Decodes the character at `in` (`left` > 0 bytes): the bytes it takes (1
  // or 2) and its UTF-16 units (1 or 2) in units[]/*count; *count 0 when the
  // byte at `in` starts no valid character (then 1 byte is taken).
  int Widen(const BYTE* in, size_t left, char16_t units[2], int* count);

  // True when every byte below 0x80 is the UTF-16 unit of the same value
  // and back (as in every code page served here that iconv knows): callers
  // may then copy ASCII text without looking each character up.
  bool AsciiIsItself() const { return asciiIsItself_; }

  ~CodePageTable();

 private:
  explicit CodePageTable(UINT codePage);
  CodePageTable(const CodePageTable&) = delete;
  CodePageTable& operator=(const CodePageTable&) = delete;
  struct Tables;
  UINT codePage_;
  Tables* tables_;
  bool asciiIsItself_ = false;
};

}  // namespace kv::platform
