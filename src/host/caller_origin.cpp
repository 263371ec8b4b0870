// The caller origin of the current calls. One per process: a native host
// serves a single origin per connection and process, and calls arrive one at
// a time.
#include "host/caller_origin.h"

namespace kv {
namespace {

std::string& Current() {
  static std::string origin;
  return origin;
}

}  // namespace

void SetCallerOrigin(const std::string& origin) { Current() = origin; }

const std::string& CallerOrigin() { return Current(); }

std::string CaptionWithCallerOrigin(const std::string& caption) {
  const std::string& origin = Current();
  if (origin.empty()) return caption;
  return caption + " - " + origin;
}

}  // namespace kv
