// Lookup and formatting of the result codes' messages. The formats live in
// error_messages_data.h as UTF-8; they are converted to the ANSI code page at
// run time so the text leaves the engine as the same characters whatever code
// page the source was compiled in.
#include "engine/error_messages.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "engine/error_messages_data.h"
#include "vocabulary/text.h"

namespace {

// Large enough for every format plus a signed 32-bit number; snprintf keeps
// even an unexpectedly long text inside it.
constexpr size_t kWorkBufferSize = 200;

bool TableIsSorted() {
  return std::is_sorted(std::begin(kErrorMessages), std::end(kErrorMessages),
                        [](const ErrorMessageEntry& a, const ErrorMessageEntry& b) { return a.code < b.code; });
}

}  // namespace

const char* FindErrorMessageFormat(ErrorCode code) {
  static const bool sorted = TableIsSorted();
  if (sorted) {
    auto it = std::lower_bound(std::begin(kErrorMessages), std::end(kErrorMessages), code,
                               [](const ErrorMessageEntry& e, ErrorCode c) { return e.code < c; });
    return (it != std::end(kErrorMessages) && it->code == code) ? it->format : nullptr;
  }
  for (const ErrorMessageEntry& e : kErrorMessages)
    if (e.code == code) return e.format;
  return nullptr;
}

std::string FormatErrorMessage(ErrorCode code) {
  const char* utf8 = FindErrorMessageFormat(code);
  std::string format = kv::Utf8ToNarrow(utf8 ? utf8 : kUndefinedErrorFormat);
  char buffer[kWorkBufferSize];
  int written = std::snprintf(buffer, sizeof buffer, format.c_str(), static_cast<int>(code));
  if (written < 0) return std::string();
  return std::string(buffer, std::min(static_cast<size_t>(written), sizeof buffer - 1));
}
