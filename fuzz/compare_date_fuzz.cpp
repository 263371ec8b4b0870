// Fuzz target: the compare date of signer selection. Whatever the text, a
// date it accepts must be 14 digits whose fields lie in their ranges.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "sign/compare_date.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  FILETIME when{};
  if (!kv::sign::ParseCompareDate(text, &when)) return 0;
  if (text.size() != 14) std::abort();
  for (char c : text)
    if (c < '0' || c > '9') std::abort();
  int month = std::atoi(text.substr(4, 2).c_str());
  int day = std::atoi(text.substr(6, 2).c_str());
  if (month < 1 || month > 12 || day < 1 || day > 31) std::abort();
  return 0;
}
