// The one ANSI <-> UTF-16 wrapper: text in the process's ANSI code page
// (CP_ACP) to UTF-16 and back through the system's own code-page calls.
// Header-only because it runs on both sides of the seam: the engine calls
// the real system on Windows, the stand-in calls its own implementation of
// the same two functions on Linux.
#pragma once

#include <windows.h>

#include <climits>
#include <cstddef>
#include <string>

namespace kv {

// `size` bytes of ANSI text as UTF-16; counts are explicit, so embedded zeros
// pass through. Bytes the code page cannot map become its replacement
// character; empty or unconvertible input gives "".
inline std::u16string AnsiToUtf16(const char* text, size_t size) {
  if (!text || size == 0 || size > static_cast<size_t>(INT_MAX)) return {};
  const int n = static_cast<int>(size);
  const int needed = MultiByteToWideChar(CP_ACP, 0, text, n, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<size_t>(needed), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text, n, reinterpret_cast<LPWSTR>(&out[0]), needed);
  return out;
}

// `size` UTF-16 units as ANSI text; characters the code page lacks (and lone
// surrogates) become its default character.
inline std::string Utf16ToAnsi(const char16_t* text, size_t size) {
  if (!text || size == 0 || size > static_cast<size_t>(INT_MAX)) return {};
  const int n = static_cast<int>(size);
  LPCWSTR wide = reinterpret_cast<LPCWSTR>(text);
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide, n, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, n, &out[0], needed, nullptr, nullptr);
  return out;
}

// Zero-terminated ANSI text (null: "") as UTF-16.
inline std::u16string AnsiToUtf16(const char* text) {
  return text ? AnsiToUtf16(text, std::char_traits<char>::length(text)) : std::u16string();
}
inline std::u16string AnsiToUtf16(const std::string& text) { return AnsiToUtf16(text.data(), text.size()); }
inline std::string Utf16ToAnsi(const std::u16string& text) { return Utf16ToAnsi(text.data(), text.size()); }

}  // namespace kv
