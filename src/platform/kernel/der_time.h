// DER time decoding for the stand-in's certificate calls.
#pragma once

#include <windows.h>

#include <cstdint>

#include "der/der_span.h"

namespace kv::platform {

// UTCTime / GeneralizedTime contents to a FILETIME (UTC).
[[nodiscard]] bool DerTimeToFileTime(uint8_t tag, der::Span contents, FILETIME* out);

}  // namespace kv::platform
