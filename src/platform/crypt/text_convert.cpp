// Conversions through the stand-in's code page calls.
#include "crypt/text_convert.h"

#include <vector>

namespace kv::platform::crypt {
namespace {

std::u16string ToWide(UINT cp, const char* text, int len) {
  if (!text || len == 0) return {};
  int n = MultiByteToWideChar(cp, 0, text, len, nullptr, 0);
  if (n <= 0) return {};
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(cp, 0, text, len, &out[0], n);
  return out;
}

std::string FromWide(UINT cp, const std::u16string& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

std::u16string AnsiToWide(const char* text) {
  if (!text) return {};
  return ToWide(CP_ACP, text, static_cast<int>(std::char_traits<char>::length(text)));
}

std::u16string Utf8ToWide(const std::string& text) {
  return ToWide(CP_UTF8, text.data(), static_cast<int>(text.size()));
}

std::string WideToAnsi(const std::u16string& text) { return FromWide(CP_ACP, text); }
std::string WideToUtf8(const std::u16string& text) { return FromWide(CP_UTF8, text); }

}  // namespace kv::platform::crypt
