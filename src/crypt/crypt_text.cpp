// Plain-text bytes of the encryption operations and their way back to text.
#include "crypt/crypt_text.h"

#include <windows.h>
#include <oleauto.h>

#include <climits>

namespace kv::crypt {

bool TextToBytes(BSTR text, LONG flags, SecretBytes* out) {
  out->clear();
  if (!text) return false;
  const int units = lstrlenW(text);
  if (units == 0) return false;
  if (flags & kTextInAnsiCodePage) {
    // Converted straight into the bytes: no other copy of a secret, perhaps
    // large, text is left behind.
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return false;
    out->resize(static_cast<size_t>(needed));
    WideCharToMultiByte(CP_ACP, 0, text, units, reinterpret_cast<LPSTR>(out->data()), needed, nullptr, nullptr);
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
    const LPCSTR narrow = reinterpret_cast<LPCSTR>(data);
    const int needed = length == 0 || length > static_cast<size_t>(INT_MAX)
                           ? 0
                           : MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(length), nullptr, 0);
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(needed > 0 ? needed : 0));
    if (result && needed > 0) MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(length), result, needed);
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
