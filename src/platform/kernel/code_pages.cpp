// Code-page conversions (MultiByteToWideChar, WideCharToMultiByte) on iconv,
// with the Windows conventions: -1 for zero-terminated input (the terminator
// is counted), a zero output size to ask for the size, ERROR_INSUFFICIENT_BUFFER
// when the output is too small, and replacement characters for bytes or
// characters the code page cannot express.
#include <iconv.h>

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/code_page_table.h"

namespace {

constexpr UINT kDefaultAnsiCodePage = 950;

UINT Resolve(UINT codePage) {
  if (codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP || codePage == CP_MACCP)
    return GetACP();
  return codePage;
}

using kv::platform::CodePageTable;
using kv::platform::IconvCodePageName;

// One converter per direction and code page, per thread.
struct Converter {
  UINT codePage = 0;
  bool toWide = false;
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
};

// Set once the thread's cache below is gone (plain data: it outlives it).
thread_local bool t_cacheGone = false;

// Closes the thread's converters when the thread ends.
struct ConverterCache {
  std::vector<Converter> entries;
  ~ConverterCache() {
    for (auto& c : entries) iconv_close(c.cd);
    t_cacheGone = true;
  }
};

// Converters for conversions that run after the thread's cache was destroyed,
// such as those of static objects torn down at process exit; kept until the
// process ends.
std::vector<Converter>& LateConverters() {
  thread_local std::vector<Converter>* late = nullptr;
  if (!late) late = new std::vector<Converter>();
  return *late;
}

iconv_t Open(UINT codePage, bool toWide) {
  thread_local ConverterCache cacheHolder;
  auto& cache = t_cacheGone ? LateConverters() : cacheHolder.entries;
  for (auto& c : cache)
    if (c.codePage == codePage && c.toWide == toWide) {
      iconv(c.cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
      return c.cd;
    }
  std::string name = IconvCodePageName(codePage);
  if (name.empty()) return reinterpret_cast<iconv_t>(-1);
  iconv_t cd = toWide ? iconv_open("UTF-16LE", name.c_str()) : iconv_open(name.c_str(), "UTF-16LE");
  if (cd != reinterpret_cast<iconv_t>(-1)) cache.push_back({codePage, toWide, cd});
  return cd;
}


// The Windows output rule: a zero size asks for the size, a smaller one is
// ERROR_INSUFFICIENT_BUFFER.
template <typename Unit>
int CopyOut(const Unit* data, size_t count, Unit* dst, int room) {
  const int needed = static_cast<int>(count);
  if (room == 0) return needed;
  if (needed > room) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, data, count * sizeof(Unit));
  return needed;
}

}  // namespace

extern "C" UINT WINAPI GetACP(void) {
  const char* env = std::getenv("KORVESSA_CODEPAGE");
  if (env && *env) {
    char* end = nullptr;
    unsigned long v = std::strtoul(env, &end, 10);
    if (end && *end == '\0' && v > 0 && v < 65536 && !IconvCodePageName(static_cast<UINT>(v)).empty())
      return static_cast<UINT>(v);
  }
  return kDefaultAnsiCodePage;
}

extern "C" BOOL WINAPI IsDBCSLeadByteEx(UINT CodePage, BYTE c) {
  // No code page leads with a byte below 0x81: text scanned byte by byte
  // (mostly ASCII) need not look the code page up.
  if (c < 0x81) return FALSE;
  switch (Resolve(CodePage)) {
    case 932: return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:
    case 949:
    case 950: return c >= 0x81 && c <= 0xFE;
    default: return FALSE;
  }
}

extern "C" BOOL WINAPI IsDBCSLeadByte(BYTE c) { return IsDBCSLeadByteEx(CP_ACP, c); }

extern "C" int WINAPI lstrlenW(LPCWSTR s) {
  if (!s) return 0;
  int n = 0;
  while (s[n]) ++n;
  return n;
}

extern "C" int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

namespace {

// How many units from `text` on are below 0x80: sixteen at a time while
// they all are, which the compiler turns into vector instructions.
template <typename Unit>
size_t AsciiRun(const Unit* text, size_t size) {
  constexpr size_t kChunk = 16;
  size_t run = 0;
  for (; run + kChunk <= size; run += kChunk) {
    unsigned high = 0;
    for (size_t k = 0; k < kChunk; ++k) high |= static_cast<unsigned>(text[run + k]);
    if (high >= 0x80) break;
  }
  while (run < size && text[run] < 0x80) ++run;
  return run;
}

// The two ways a text is converted: the code page's table or iconv. Each
// appends to `out`; a character that cannot be read or written becomes
// `replacement` (one per failing byte, or per failing UTF-16 unit), unless
// `strict`, when the conversion stops and answers false.

bool WidenByTable(CodePageTable& table, const BYTE* in, size_t size, bool strict, char16_t replacement,
                  std::u16string* out) {
  // A character is one or two units: room for two more is kept ahead.
  out->resize(size + 2);
  size_t n = 0;
  const bool ascii = table.AsciiIsItself();
  for (size_t at = 0; at < size;) {
    if (n + 2 > out->size()) out->resize(out->size() * 2);
    if (ascii && in[at] < 0x80) {
      size_t run = AsciiRun(in + at, size - at);
      if (n + run + 2 > out->size()) out->resize(n + run + 2);
      char16_t* to = &(*out)[n];
      for (size_t k = 0; k < run; ++k) to[k] = static_cast<char16_t>(in[at + k]);
      n += run;
      at += run;
      continue;
    }
    int count = 0;
    at += static_cast<size_t>(table.Widen(in + at, size - at, &(*out)[n], &count));
    if (count == 0) {
      if (strict) return false;
      (*out)[n] = replacement;
      count = 1;
    }
    n += static_cast<size_t>(count);
  }
  out->resize(n);
  return true;
}

void NarrowByTable(CodePageTable& table, const WCHAR* src, size_t units, const std::string& replacement,
                   std::string* out, bool* usedReplacement) {
  // Two bytes a unit at most, but the replacement may be longer.
  out->resize(units * 2 + replacement.size());
  size_t n = 0;
  const bool ascii = table.AsciiIsItself();
  for (size_t i = 0; i < units; ++i) {
    if (n + 2 + replacement.size() > out->size()) out->resize(out->size() * 2);
    if (ascii && src[i] < 0x80) {
      size_t run = AsciiRun(src + i, units - i);
      if (n + run + 2 + replacement.size() > out->size()) out->resize(n + run + 2 + replacement.size());
      char* to = &(*out)[n];
      for (size_t k = 0; k < run; ++k) to[k] = static_cast<char>(src[i + k]);
      n += run;
      i += run - 1;
      continue;
    }
    const int count = table.Narrow(src[i], &(*out)[n]);
    if (count == 0) {
      std::memcpy(&(*out)[n], replacement.data(), replacement.size());
      n += replacement.size();
      *usedReplacement = true;
    } else {
      n += static_cast<size_t>(count);
    }
  }
  out->resize(n);
}

// iconv over the whole text; after a failure it starts again one input unit
// (`step` bytes) further on.
template <typename Unit, typename Replace>
bool ConvertByIconv(iconv_t cd, const char* input, size_t size, size_t step, bool strict, Replace replace,
                    std::basic_string<Unit>* out) {
  char* in = const_cast<char*>(input);
  size_t inLeft = size;
  Unit chunk[256];
  while (inLeft > 0) {
    char* outPtr = reinterpret_cast<char*>(chunk);
    size_t outLeft = sizeof chunk;
    size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out->append(chunk, reinterpret_cast<Unit*>(outPtr) - chunk);
    if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
    if (strict) return false;
    replace(out);
    size_t skip = inLeft >= step ? step : inLeft;
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return true;
}

}  // namespace

extern "C" int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR src, int cbSrc, LPWSTR dst,
                                          int cchDst) {
  if (!src || cbSrc == 0 || cbSrc < -1 || cchDst < 0 || (!dst && cchDst != 0) ||
      (dst && reinterpret_cast<const void*>(dst) == reinterpret_cast<const void*>(src))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  UINT cp = Resolve(CodePage);
  if (dwFlags & ~(DWORD)(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS | 0x2 | 0x4)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const size_t size = cbSrc == -1 ? std::strlen(src) + 1 : static_cast<size_t>(cbSrc);
  const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
  // An invalid or incomplete sequence: one replacement for its first byte.
  const char16_t replacement = cp == CP_UTF8 ? u'\uFFFD' : u'?';
  bool converted;
  std::u16string out;
  if (CodePageTable* table = CodePageTable::For(cp)) {
    converted = WidenByTable(*table, reinterpret_cast<const BYTE*>(src), size, strict, replacement, &out);
  } else {
    iconv_t cd = Open(cp, true);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    out.reserve(size + 1);
    converted = ConvertByIconv<char16_t>(cd, src, size, 1, strict,
                                         [&](std::u16string* text) { text->push_back(replacement); }, &out);
  }
  if (!converted) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  return CopyOut(out.data(), out.size(), dst, cchDst);
}

extern "C" int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR src, int cchSrc, LPSTR dst,
                                          int cbDst, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  if (!src || cchSrc == 0 || cchSrc < -1 || cbDst < 0 || (!dst && cbDst != 0) ||
      (dst && reinterpret_cast<const void*>(dst) == reinterpret_cast<const void*>(src))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  UINT cp = Resolve(CodePage);
  if (cp == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t units = cchSrc == -1 ? static_cast<size_t>(lstrlenW(src)) + 1 : static_cast<size_t>(cchSrc);
  std::string defaultChar = cp == CP_UTF8 ? "\xEF\xBF\xBD" : (lpDefaultChar ? std::string(lpDefaultChar) : "?");
  if (defaultChar.empty()) defaultChar = "?";
  // A character the code page lacks, or a lone surrogate: the default
  // character stands for that one code unit.
  bool usedDefault = false;
  std::string out;
  if (CodePageTable* table = CodePageTable::For(cp)) {
    NarrowByTable(*table, src, units, defaultChar, &out, &usedDefault);
  } else {
    iconv_t cd = Open(cp, false);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    out.reserve(units * 2);
    const bool strict = (dwFlags & WC_ERR_INVALID_CHARS) && cp == CP_UTF8;
    auto replace = [&](std::string* text) {
      *text += defaultChar;
      usedDefault = true;
    };
    if (!ConvertByIconv<char>(cd, reinterpret_cast<const char*>(src), units * sizeof(char16_t), sizeof(char16_t),
                              strict, replace, &out)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  }
  if (lpUsedDefaultChar) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  return CopyOut(out.data(), out.size(), dst, cbDst);
}
