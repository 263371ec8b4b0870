// Certificate times (UTCTime, GeneralizedTime) to FILETIME on the stand-in's
// own day count.
#include "kernel/der_time.h"

#include "kernel/file_time.h"

namespace kv::platform {
namespace {

bool Digits(const uint8_t* p, int n, int* out) {
  int v = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    v = v * 10 + (p[i] - '0');
  }
  *out = v;
  return true;
}

}  // namespace

bool DerTimeToFileTime(uint8_t tag, der::Span contents, FILETIME* out) {
  const uint8_t* p = contents.data();
  size_t n = contents.size();
  int year, month, day, hour, minute, second = 0;
  size_t pos;
  if (tag == der::kUtcTime) {
    if (n < 11 || !Digits(p, 2, &year)) return false;
    year += year < 50 ? 2000 : 1900;
    pos = 2;
  } else if (tag == der::kGeneralizedTime) {
    if (n < 13 || !Digits(p, 4, &year)) return false;
    pos = 4;
  } else {
    return false;
  }
  if (!Digits(p + pos, 2, &month) || !Digits(p + pos + 2, 2, &day) || !Digits(p + pos + 4, 2, &hour) ||
      !Digits(p + pos + 6, 2, &minute))
    return false;
  pos += 8;
  if (pos + 2 <= n && p[pos] >= '0' && p[pos] <= '9') {
    if (!Digits(p + pos, 2, &second)) return false;
    pos += 2;
  }
  // Fractions of a second (GeneralizedTime) are dropped.
  if (pos < n && (p[pos] == '.' || p[pos] == ',')) {
    ++pos;
    while (pos < n && p[pos] >= '0' && p[pos] <= '9') ++pos;
  }
  int64_t offset = 0;
  if (pos < n && p[pos] == 'Z') {
    ++pos;
  } else if (pos + 5 <= n && (p[pos] == '+' || p[pos] == '-')) {
    int oh, om;
    if (!Digits(p + pos + 1, 2, &oh) || !Digits(p + pos + 3, 2, &om) || oh > 23 || om > 59) return false;
    offset = (oh * 60 + om) * 60;
    if (p[pos] == '+') offset = -offset;
    pos += 5;
  } else if (pos != n) {
    return false;
  }
  if (pos != n) return false;
  FILETIME ft;
  if (!CivilToFileTime(year, month, day, hour, minute, second, &ft)) return false;
  int64_t value = static_cast<int64_t>(FileTimeTicks(ft)) + offset * 10000000LL;
  if (value < 0) return false;
  *out = FileTimeFromTicks(static_cast<uint64_t>(value));
  return true;
}

}  // namespace kv::platform
