// Automation strings with the Windows layout: a 32-bit byte count, the 16-bit
// characters, then a 16-bit zero. The BSTR points at the first character.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT kMaxBytes = 0x7FFFFFF0u;

BSTR AllocateBytes(const void* src, UINT bytes) {
  if (bytes > kMaxBytes) return nullptr;
  // Prefix, content, and a WCHAR terminator (plus one spare byte so an odd
  // byte length is still followed by a whole zero WCHAR).
  auto* block = static_cast<BYTE*>(std::malloc(sizeof(DWORD) + bytes + sizeof(WCHAR) + 1));
  if (!block) return nullptr;
  DWORD len = bytes;
  std::memcpy(block, &len, sizeof len);
  BYTE* chars = block + sizeof(DWORD);
  if (src)
    std::memcpy(chars, src, bytes);
  else
    std::memset(chars, 0, bytes);
  std::memset(chars + bytes, 0, sizeof(WCHAR) + 1);
  return reinterpret_cast<BSTR>(chars);
}

}  // namespace

extern "C" BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  return AllocateBytes(strIn, ui * static_cast<UINT>(sizeof(OLECHAR)));
}

extern "C" BSTR WINAPI SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  UINT n = 0;
  while (psz[n]) ++n;
  return SysAllocStringLen(psz, n);
}

extern "C" BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len) { return AllocateBytes(psz, len); }

extern "C" void WINAPI SysFreeString(BSTR bstrString) {
  if (!bstrString) return;
  std::free(reinterpret_cast<BYTE*>(bstrString) - sizeof(DWORD));
}

extern "C" UINT WINAPI SysStringByteLen(BSTR bstr) {
  if (!bstr) return 0;
  DWORD len;
  std::memcpy(&len, reinterpret_cast<BYTE*>(bstr) - sizeof(DWORD), sizeof len);
  return len;
}

extern "C" UINT WINAPI SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }
