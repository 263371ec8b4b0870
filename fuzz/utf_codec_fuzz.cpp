// Fuzz target for the UTF-8 <-> UTF-16 codec. Any bytes: strict decoding
// succeeds exactly when lossy decoding puts no replacement the input did not
// hold, and then re-encodes to the same bytes; any UTF-16 units (the input
// read as 16-bit units): encoding gives well-formed UTF-8 that decodes back to
// the units with each lone surrogate as U+FFFD.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kvcommon/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  std::u16string strict;
  const bool ok = kv::Utf8ToUtf16(bytes, &strict);
  const std::u16string lossy = kv::Utf8ToUtf16Lossy(bytes);
  if (ok) {
    if (lossy != strict) std::abort();
    if (kv::Utf16ToUtf8(strict) != bytes) std::abort();
  } else if (kv::Utf16ToUtf8(lossy) == bytes) {
    std::abort();  // something was replaced, so the bytes cannot come back
  }
  // Whatever lossy decoding gives is valid and stable.
  std::u16string again;
  if (!kv::Utf8ToUtf16(kv::Utf16ToUtf8(lossy), &again) || again != lossy) std::abort();

  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  std::u16string expected;
  for (size_t i = 0; i < units.size(); ++i) {
    if (kv::IsSurrogatePair(units, i)) {
      expected.append(units, i, 2);
      ++i;
    } else {
      expected.push_back(units[i] >= 0xD800 && units[i] <= 0xDFFF ? u'\uFFFD' : units[i]);
    }
  }
  std::u16string back;
  if (!kv::Utf8ToUtf16(kv::Utf16ToUtf8(units), &back) || back != expected) std::abort();
  return 0;
}
