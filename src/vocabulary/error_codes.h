// The engine's result codes: 0 for success, every other value one failure.
// The numbers are the lines of vocabulary/error_table.h.
#pragma once

#include <cstdint>

typedef int32_t ErrorCode;

enum : ErrorCode {
#define KV_ERROR(name, code, message, gloss) name = code,
#include "vocabulary/error_table.h"
};
