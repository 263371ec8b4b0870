// Plain-text bytes of the encryption operations and their way back to text.
#include "crypt/crypt_text.h"

#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <string>

#include "vocabulary/text.h"

namespace kv::crypt {

bool TextToBytes(BSTR text, LONG flags, SecretBytes* out) {
  out->clear();
  if (!text) return false;
  const int units = lstrlenW(text);
  if (units == 0) return false;
  if (flags & kTextInAnsiCodePage) {
    std::string narrow = kv::WideToNarrow(text, units);
    out->assign(narrow.begin(), narrow.end());
    if (!narrow.empty()) SecureZeroMemory(&narrow[0], narrow.size());
  } else {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
    out->assign(bytes, bytes + static_cast<size_t>(units) * sizeof(WCHAR));
  }
  return !out->empty();
}

bool PlainTextFits(size_t size, LONG flags) { return (flags & kTextInAnsiCodePage) || size % sizeof(WCHAR) == 0; }

BSTR BytesToText(const BYTE* data, size_t size, LONG flags) {
  if (flags & kTextInAnsiCodePage) {
    size_t length = 0;
    while (length < size && data[length] != 0) ++length;
    std::string narrow(reinterpret_cast<const char*>(data), length);
    BSTR result = kv::NarrowToBstr(narrow);
    if (!narrow.empty()) SecureZeroMemory(&narrow[0], narrow.size());
    return result;
  }
  // Written straight into the result: a large text is not held a third time.
  size_t units = 0;
  for (size_t i = 0; i < size; i += 2, ++units) {
    const BYTE high = i + 1 < size ? data[i + 1] : 0;
    if ((data[i] | high) == 0) break;
  }
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  for (size_t i = 0; result && i < units; ++i) {
    const BYTE high = 2 * i + 1 < size ? data[2 * i + 1] : 0;
    result[i] = static_cast<OLECHAR>(data[2 * i] | (high << 8));
  }
  return result;
}

}  // namespace kv::crypt
