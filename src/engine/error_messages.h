// The user-facing text of every result code, as GetErrorMsg returns it.
#pragma once

#include <string>

#include "vocabulary/error_codes.h"

// The message of `code` with the code substituted, as a narrow string in the
// ANSI code page. Codes without a message of their own (negative numbers
// included) get the "undefined code" text. Never fails, touches no state.
std::string FormatErrorMessage(ErrorCode code);

// The message format of `code` as UTF-8 source text, or null when the code
// has none of its own.
const char* FindErrorMessageFormat(ErrorCode code);
