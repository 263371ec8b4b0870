// FILETIME and SYSTEMTIME conversions with Windows's ranges and errors, and
// local time by the process's time zone (TZ), as the engine's date texts show it.
#include <windows.h>

#include <time.h>

#include <cstdint>

#include "kernel/file_time.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDelta = 11644473600LL;

using kv::platform::DaysFromCivil;
uint64_t Ticks(const FILETIME& ft) { return kv::platform::FileTimeTicks(ft); }
FILETIME FromTicks(uint64_t t) { return kv::platform::FileTimeFromTicks(t); }

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

// Offset of local time from UTC, in seconds, at the UTC instant `unixSeconds`.
int64_t LocalOffsetAt(int64_t unixSeconds) {
  time_t t = static_cast<time_t>(unixSeconds);
  struct tm local;
  if (!localtime_r(&t, &local)) return 0;
  return local.tm_gmtoff;
}

}  // namespace

namespace kv::platform {

uint64_t FileTimeTicks(const FILETIME& ft) { return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

FILETIME FileTimeFromTicks(uint64_t ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool CivilToFileTime(int year, int month, int day, int hour, int minute, int second, FILETIME* out) {
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
    return false;
  const int64_t secs = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                       hour * 3600 + minute * 60 + second + kEpochDelta;
  *out = FileTimeFromTicks(static_cast<uint64_t>(secs) * kTicksPerSecond);
  return true;
}

}  // namespace kv::platform

extern "C" void WINAPI GetSystemTimeAsFileTime(LPFILETIME out) {
  if (!out) return;
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t ticks = (uint64_t(ts.tv_sec) + kEpochDelta) * kTicksPerSecond + uint64_t(ts.tv_nsec) / 100;
  *out = FromTicks(ticks);
}

extern "C" BOOL WINAPI FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
  if (!ft || !st || (ft->dwHighDateTime & 0x80000000u)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  uint64_t ticks = Ticks(*ft);
  int64_t totalSeconds = static_cast<int64_t>(ticks / kTicksPerSecond);
  int64_t days = totalSeconds / 86400;
  int64_t secs = totalSeconds % 86400;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days - kEpochDelta / 86400, &y, &m, &d);
  if (y > 30827) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(d);
  // 1601-01-01 was a Monday.
  st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
  st->wHour = static_cast<WORD>(secs / 3600);
  st->wMinute = static_cast<WORD>((secs / 60) % 60);
  st->wSecond = static_cast<WORD>(secs % 60);
  st->wMilliseconds = static_cast<WORD>((ticks / 10000) % 1000);
  return TRUE;
}

extern "C" BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
  if (!st || !ft || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
      st->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t days = DaysFromCivil(st->wYear, st->wMonth, st->wDay) + kEpochDelta / 86400;
  uint64_t seconds = uint64_t(days) * 86400 + st->wHour * 3600u + st->wMinute * 60u + st->wSecond;
  *ft = FromTicks(seconds * kTicksPerSecond + uint64_t(st->wMilliseconds) * 10000);
  return TRUE;
}

extern "C" void WINAPI GetSystemTime(LPSYSTEMTIME st) {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  FileTimeToSystemTime(&now, st);
}

extern "C" BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* ft, LPFILETIME local) {
  if (!ft || !local) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t ticks = static_cast<int64_t>(Ticks(*ft));
  int64_t offset = LocalOffsetAt(ticks / kTicksPerSecond - kEpochDelta) * kTicksPerSecond;
  if ((offset < 0 && ticks < -offset)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *local = FromTicks(static_cast<uint64_t>(ticks + offset));
  return TRUE;
}

extern "C" BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* local, LPFILETIME ft) {
  if (!local || !ft) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t ticks = static_cast<int64_t>(Ticks(*local));
  int64_t guess = ticks / kTicksPerSecond - kEpochDelta;
  int64_t offset = LocalOffsetAt(guess - LocalOffsetAt(guess)) * kTicksPerSecond;
  if (ticks - offset < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *ft = FromTicks(static_cast<uint64_t>(ticks - offset));
  return TRUE;
}

extern "C" void WINAPI GetLocalTime(LPSYSTEMTIME st) {
  FILETIME now = {}, local = {};
  GetSystemTimeAsFileTime(&now);
  if (!FileTimeToLocalFileTime(&now, &local)) local = now;
  FileTimeToSystemTime(&local, st);
}

extern "C" LONG WINAPI CompareFileTime(const FILETIME* a, const FILETIME* b) {
  if (!a || !b) return 0;
  uint64_t ta = Ticks(*a), tb = Ticks(*b);
  return ta < tb ? -1 : (ta > tb ? 1 : 0);
}
