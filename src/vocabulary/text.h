// Conversions between the doors' UTF-16 strings and the engine's narrow
// strings in the ANSI code page, and the lead-byte-aware searches narrow
// strings need (in code page 950 the second byte of a character can be 0x5C,
// the backslash).
#pragma once

#include <windows.h>

#include <string>

namespace kv {

// UTF-16 text (null: empty) in the ANSI code page.
std::string WideToNarrow(LPCWSTR text, int length = -1);
// Narrow ANSI text as UTF-16 (without terminator).
std::u16string NarrowToWide(const std::string& text);
// A new BSTR for the caller from narrow ANSI text ("" gives an empty BSTR).
BSTR NarrowToBstr(const std::string& text);
// Converts an operation's owned BSTR argument and frees it; null reads as "".
std::string TakeNarrow(BSTR arg);
// Whether the ANSI code page has a character of its own for every unit of
// `text` (null or empty: true). Narrowing puts the default character ('?')
// or a best-fit look-alike in place of a character the code page lacks, so
// different texts would become one narrow text: keys and new passwords are
// checked with it before they are narrowed. Does not free `text`.
bool CodePageCarries(BSTR text);

// UTF-8 text (as the source files write the system's messages) in the ANSI
// code page.
std::string Utf8ToNarrow(const char* utf8);

// Position of the last backslash that is a character of its own (not the
// trail byte of a double-byte character), or npos.
size_t FindLastBackslash(const std::string& text);
// Position of the first such backslash at or after `from`, or npos.
size_t FindBackslash(const std::string& text, size_t from = 0);
// Case-insensitive comparison of narrow ANSI strings: ASCII letters fold,
// double-byte characters compare as they are.
int CompareNoCase(const std::string& a, const std::string& b);
bool EqualsNoCase(const std::string& a, const std::string& b);

}  // namespace kv
