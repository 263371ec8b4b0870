// Fuzz target: scanning text in the ANSI code page (Big5 by default, whose
// trail bytes include 0x5C): the backslash searches must agree with the
// characters, and conversion to UTF-16 and back must stay in bounds.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "vocabulary/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t last = kv::FindLastBackslash(text);
  size_t first = kv::FindBackslash(text);
  if ((last == std::string::npos) != (first == std::string::npos)) std::abort();
  if (last != std::string::npos && (text[last] != '\\' || text[first] != '\\' || first > last)) std::abort();
  for (size_t from = first; from != std::string::npos && from < text.size();) {
    size_t next = kv::FindBackslash(text, from + 1);
    if (next != std::string::npos && (next <= from || text[next] != '\\')) std::abort();
    from = next;
  }
  std::u16string wide = kv::NarrowToWide(text);
  std::string back = kv::WideToNarrow(reinterpret_cast<LPCWSTR>(wide.c_str()), static_cast<int>(wide.size()));
  kv::CompareNoCase(text, back);
  kv::EqualsNoCase(text, back);
  return 0;
}
