// The compare date of signer selection: exactly 14 digits, year to second,
// taken as UTC, with the milliseconds of the current local time.
#pragma once

#include <windows.h>

#include <string>

namespace kv::sign {

// False when the text is not 14 digits, a field is out of range, or the date
// does not exist in the calendar.
bool ParseCompareDate(const std::string& text, FILETIME* out);

}  // namespace kv::sign
