// Message formats of the result codes (the lines of vocabulary/error_table.h),
// as UTF-8 source text; the engine converts them to the ANSI code page. Each
// holds exactly one "%d".
#pragma once

#include "vocabulary/error_codes.h"

struct ErrorMessageEntry {
  ErrorCode code;
  const char* format;
};

// Sorted by code, as the table is.
inline constexpr ErrorMessageEntry kErrorMessages[] = {
#define KV_ERROR(name, code, message, gloss) {name, message},
#include "vocabulary/error_table.h"
};

inline constexpr const char* kUndefinedErrorFormat = u8"錯誤碼未定義(%d) ";
