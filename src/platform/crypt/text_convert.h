// Narrow (ANSI code page) and UTF-8 <-> UTF-16 conversions for the crypt calls.
#pragma once

#include <windows.h>

#include <string>

namespace kv::platform::crypt {

std::u16string AnsiToWide(const char* text);
std::u16string Utf8ToWide(const std::string& text);
std::string WideToAnsi(const std::u16string& text);
std::string WideToUtf8(const std::u16string& text);

}  // namespace kv::platform::crypt
