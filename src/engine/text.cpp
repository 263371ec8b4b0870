// Narrow/wide conversions through the platform's code-page calls, and the
// lead-byte-aware scans of narrow strings.
#include "engine/text.h"

#include <windows.h>
#include <oleauto.h>

#include <vector>

namespace kv {

std::string WideToNarrow(LPCWSTR text, int length) {
  if (!text) return {};
  if (length < 0) length = lstrlenW(text);
  if (length == 0) return {};
  int needed = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], needed, nullptr, nullptr);
  return out;
}

std::u16string NarrowToWide(const std::string& text) {
  if (text.empty()) return {};
  int n = static_cast<int>(text.size());
  int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), n, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<size_t>(needed), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), n, reinterpret_cast<LPWSTR>(&out[0]), needed);
  return out;
}

BSTR NarrowToBstr(const std::string& text) {
  std::u16string wide = NarrowToWide(text);
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
}

std::string TakeNarrow(BSTR arg) {
  std::string out = arg ? WideToNarrow(arg, static_cast<int>(SysStringLen(arg))) : std::string();
  SysFreeString(arg);
  return out;
}

std::string Utf8ToNarrow(const char* utf8) {
  if (!utf8 || !*utf8) return {};
  int needed = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (needed <= 0) return {};
  std::vector<WCHAR> wide(static_cast<size_t>(needed));
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), needed);
  return WideToNarrow(wide.data(), needed - 1);
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
