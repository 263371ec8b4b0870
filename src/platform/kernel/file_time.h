// Calendar arithmetic of the stand-in's time calls, shared with the DER time
// decoder so the proleptic Gregorian day count is written once.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kv::platform {

// FILETIME as one 64-bit count of 100 ns ticks since 1601, and back.
uint64_t FileTimeTicks(const FILETIME& ft);
FILETIME FileTimeFromTicks(uint64_t ticks);

// Days from 1970-01-01 to y-m-d (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d);

// Calendar fields (UTC) to FILETIME; second 60 (a leap second) is accepted,
// as certificate times may carry one. False outside the FILETIME range.
bool CivilToFileTime(int year, int month, int day, int hour, int minute, int second, FILETIME* out);

}  // namespace kv::platform
