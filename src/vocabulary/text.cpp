// Narrow/wide conversions (on the shared ANSI wrapper and UTF codec), and the
// lead-byte-aware scans of narrow strings.
#include "vocabulary/text.h"

#include <windows.h>
#include <oleauto.h>

#include "kvseam/ansi.h"
#include "kvcommon/utf.h"

namespace kv {

std::string WideToNarrow(LPCWSTR text, int length) {
  if (!text) return {};
  if (length < 0) length = lstrlenW(text);
  return Utf16ToAnsi(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(length));
}

std::u16string NarrowToWide(const std::string& text) { return AnsiToUtf16(text); }

BSTR NarrowToBstr(const std::string& text) {
  std::u16string wide = AnsiToUtf16(text);
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
}

std::string TakeNarrow(BSTR arg) {
  std::string out = arg ? WideToNarrow(arg, static_cast<int>(SysStringLen(arg))) : std::string();
  SysFreeString(arg);
  return out;
}

bool CodePageCarries(BSTR text) {
  const UINT units = text ? SysStringLen(text) : 0;
  if (units == 0) return true;
  const int length = static_cast<int>(units);
  // UTF-8 takes neither a default character nor best fit: it carries every
  // character but a lone surrogate, which the strict conversion refuses.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  LPBOOL probe = utf8 ? nullptr : &usedDefault;
  const int needed = WideCharToMultiByte(CP_ACP, flags, text, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  // Converted for real: the flag is set by the conversion, not the size
  // query. The text may be a secret: the copy is wiped.
  std::string narrow(static_cast<size_t>(needed), '\0');
  const int written = WideCharToMultiByte(CP_ACP, flags, text, length, &narrow[0], needed, nullptr, probe);
  SecureZeroMemory(&narrow[0], narrow.size());
  return written == needed && !usedDefault;
}

std::string Utf8ToNarrow(const char* utf8) {
  if (!utf8 || !*utf8) return {};
  return Utf16ToAnsi(Utf8ToUtf16Lossy(utf8));
}

size_t FindBackslash(const std::string& text, size_t from) {
  for (size_t i = from; i < text.size(); ++i) {
    BYTE c = static_cast<BYTE>(text[i]);
    if (IsDBCSLeadByteEx(CP_ACP, c) && i + 1 < text.size()) {
      ++i;  // skip the trail byte, whatever its value
      continue;
    }
    if (c == '\\') return i;
  }
  return std::string::npos;
}

size_t FindLastBackslash(const std::string& text) {
  size_t last = std::string::npos;
  for (size_t pos = FindBackslash(text); pos != std::string::npos; pos = FindBackslash(text, pos + 1))
    last = pos;
  return last;
}

int CompareNoCase(const std::string& a, const std::string& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size()) {
    BYTE ca = static_cast<BYTE>(a[i]);
    BYTE cb = static_cast<BYTE>(b[i]);
    if (IsDBCSLeadByteEx(CP_ACP, ca) && i + 1 < a.size() && i + 1 < b.size() && ca == cb) {
      BYTE ta = static_cast<BYTE>(a[i + 1]);
      BYTE tb = static_cast<BYTE>(b[i + 1]);
      if (ta != tb) return ta < tb ? -1 : 1;
      i += 2;
      continue;
    }
    if (ca >= 'a' && ca <= 'z') ca = static_cast<BYTE>(ca - 'a' + 'A');
    if (cb >= 'a' && cb <= 'z') cb = static_cast<BYTE>(cb - 'a' + 'A');
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(const std::string& a, const std::string& b) { return CompareNoCase(a, b) == 0; }

}  // namespace kv
