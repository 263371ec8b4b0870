// Parsing of the compare date.
#include "sign/compare_date.h"

namespace kv::sign {
namespace {

int Field(const std::string& text, size_t pos, size_t len) {
  int value = 0;
  for (size_t i = pos; i < pos + len; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

}  // namespace

bool ParseCompareDate(const std::string& text, FILETIME* out) {
  if (text.size() != 14) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(Field(text, 0, 4));
  st.wMonth = static_cast<WORD>(Field(text, 4, 2));
  st.wDay = static_cast<WORD>(Field(text, 6, 2));
  st.wHour = static_cast<WORD>(Field(text, 8, 2));
  st.wMinute = static_cast<WORD>(Field(text, 10, 2));
  st.wSecond = static_cast<WORD>(Field(text, 12, 2));
  if (st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 || st.wDay > 31 || st.wHour > 23 || st.wMinute > 59 ||
      st.wSecond > 59)
    return false;
  SYSTEMTIME now;
  GetLocalTime(&now);
  st.wMilliseconds = now.wMilliseconds;
  // The calendar check: 31 April or 29 February of a common year do not exist.
  return SystemTimeToFileTime(&st, out) != FALSE;
}

}  // namespace kv::sign
