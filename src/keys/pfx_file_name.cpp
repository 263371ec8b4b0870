// Building an exported file's name from a common name that may hold any
// Unicode character.
#include "keys/pfx_file_name.h"

#include <cstring>
#include <vector>

namespace kv::keys {
namespace {

// What the common-name getter has always returned at most (a 100-byte
// buffer with its terminator).
constexpr size_t kMaxStemBytes = 99;
constexpr char kReplacement = '_';

bool IsHighSurrogate(WCHAR c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(WCHAR c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool ForbiddenInFileName(WCHAR c) { return c < 0x20 || c == 0x7F || (c < 0x80 && std::strchr("\\/:*?\"<>|", c)); }

// The bytes of one character (one or two UTF-16 units) in the ANSI code
// page; false when the code page has no such character (a best-fit
// look-alike does not count).
bool NarrowCharacter(const WCHAR* units, int count, std::string* out) {
  bool utf8 = GetACP() == CP_UTF8;
  DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  LPBOOL probe = utf8 ? nullptr : &usedDefault;
  char bytes[8];
  int n = WideCharToMultiByte(CP_ACP, flags, units, count, bytes, sizeof bytes, nullptr, probe);
  if (n <= 0 || usedDefault) return false;
  out->assign(bytes, static_cast<size_t>(n));
  return true;
}

bool IsDeviceName(const std::string& stem) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  std::string upper;
  for (char c : stem) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  for (const char* device : kDevices)
    if (upper == device) return true;
  return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

std::string CommonNameFileStem(PCCERT_CONTEXT certificate) {
  static char commonNameOid[] = szOID_COMMON_NAME;
  DWORD size = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, commonNameOid, nullptr, 0);
  if (size <= 1) return {};
  std::vector<WCHAR> name(size);
  CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, commonNameOid, name.data(), size);
  size_t length = size - 1;  // without the terminator

  std::string stem;
  for (size_t i = 0; i < length;) {
    int count = (i + 1 < length && IsHighSurrogate(name[i]) && IsLowSurrogate(name[i + 1])) ? 2 : 1;
    std::string bytes;
    if (ForbiddenInFileName(name[i]) || !NarrowCharacter(&name[i], count, &bytes)) bytes.assign(1, kReplacement);
    i += static_cast<size_t>(count);
    if (stem.size() + bytes.size() > kMaxStemBytes) break;
    stem += bytes;
  }
  if (IsDeviceName(stem)) stem += kReplacement;
  return stem;
}

}  // namespace kv::keys
