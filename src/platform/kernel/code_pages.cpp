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


// Where a conversion writes: the caller's buffer, or nowhere when only the
// size is asked (no copy of the whole text is made either way). Counts every
// unit; units that no longer fit are counted, not written.
template <typename Unit>
class Sink {
 public:
  Sink(Unit* dst, int room) : dst_(room > 0 ? dst : nullptr), room_(room > 0 ? static_cast<size_t>(room) : 0) {}

  // Room for `n` units at the end, or null when they are only counted.
  Unit* Room(size_t n) { return dst_ && count_ + n <= room_ ? dst_ + count_ : nullptr; }
  void Advance(size_t n) { count_ += n; }
  void Put(const Unit* units, size_t n) {
    if (Unit* to = Room(n)) std::memcpy(to, units, n * sizeof(Unit));
    count_ += n;
  }

  // The Windows output rule: a zero size asks for the size, a smaller one is
  // ERROR_INSUFFICIENT_BUFFER.
  int Result() const {
    if (dst_ && count_ > room_) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    return static_cast<int>(count_);
  }

 private:
  Unit* dst_;
  size_t room_;
  size_t count_ = 0;
};

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
// writes to `out`; a character that cannot be read or written becomes
// `replacement` (one per failing byte, or per failing UTF-16 unit), unless
// `strict`, when the conversion stops and answers false.

bool WidenByTable(CodePageTable& table, const BYTE* in, size_t size, bool strict, char16_t replacement,
                  Sink<char16_t>* out) {
  const bool ascii = table.AsciiIsItself();
  for (size_t at = 0; at < size;) {
    if (ascii && in[at] < 0x80) {
      const size_t run = AsciiRun(in + at, size - at);
      if (char16_t* to = out->Room(run))
        for (size_t k = 0; k < run; ++k) to[k] = static_cast<char16_t>(in[at + k]);
      out->Advance(run);
      at += run;
      continue;
    }
    char16_t units[2];
    int count = 0;
    at += static_cast<size_t>(table.Widen(in + at, size - at, units, &count));
    if (count == 0) {
      if (strict) return false;
      units[0] = replacement;
      count = 1;
    }
    out->Put(units, static_cast<size_t>(count));
  }
  return true;
}

void NarrowByTable(CodePageTable& table, const WCHAR* src, size_t units, const std::string& replacement,
                   Sink<char>* out, bool* usedReplacement) {
  const bool ascii = table.AsciiIsItself();
  for (size_t i = 0; i < units; ++i) {
    if (ascii && src[i] < 0x80) {
      const size_t run = AsciiRun(src + i, units - i);
      if (char* to = out->Room(run))
        for (size_t k = 0; k < run; ++k) to[k] = static_cast<char>(src[i + k]);
      out->Advance(run);
      i += run - 1;
      continue;
    }
    char bytes[2];
    const int count = table.Narrow(src[i], bytes);
    if (count == 0) {
      out->Put(replacement.data(), replacement.size());
      *usedReplacement = true;
    } else {
      out->Put(bytes, static_cast<size_t>(count));
    }
  }
}

// iconv over the whole text, a chunk at a time; after a failure it starts
// again one input unit (`step` bytes) further on.
template <typename Unit, typename Replace>
bool ConvertByIconv(iconv_t cd, const char* input, size_t size, size_t step, bool strict, Replace replace,
                    Sink<Unit>* out) {
  char* in = const_cast<char*>(input);
  size_t inLeft = size;
  Unit chunk[256];
  while (inLeft > 0) {
    char* outPtr = reinterpret_cast<char*>(chunk);
    size_t outLeft = sizeof chunk;
    size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out->Put(chunk, static_cast<size_t>(reinterpret_cast<Unit*>(outPtr) - chunk));
    if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
    if (strict) return false;
    replace();
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
  Sink<char16_t> out(dst, cchDst);
  if (CodePageTable* table = CodePageTable::For(cp)) {
    converted = WidenByTable(*table, reinterpret_cast<const BYTE*>(src), size, strict, replacement, &out);
  } else {
    iconv_t cd = Open(cp, true);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    converted = ConvertByIconv<char16_t>(cd, src, size, 1, strict, [&] { out.Put(&replacement, 1); }, &out);
  }
  if (!converted) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  return out.Result();
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
  Sink<char> out(dst, cbDst);
  if (CodePageTable* table = CodePageTable::For(cp)) {
    NarrowByTable(*table, src, units, defaultChar, &out, &usedDefault);
  } else {
    iconv_t cd = Open(cp, false);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    const bool strict = (dwFlags & WC_ERR_INVALID_CHARS) && cp == CP_UTF8;
    auto replace = [&] {
      out.Put(defaultChar.data(), defaultChar.size());
      usedDefault = true;
    };
    if (!ConvertByIconv<char>(cd, reinterpret_cast<const char*>(src), units * sizeof(char16_t), sizeof(char16_t),
                              strict, replace, &out)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  }
  if (lpUsedDefaultChar) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  return out.Result();
}
