// The web origin on whose behalf the engine is working, set by a door that
// serves pages (the browser extension's native host) for the length of its
// calls. Every dialog names it, the signing confirmation cannot be skipped
// while it is set, and the shared signer area is kept apart per origin.
// Empty for desktop callers: nothing then changes.
#pragma once

#include <string>

namespace kv {

// "scheme://host:port" (ASCII); "" clears it.
void SetCallerOrigin(const std::string& origin);
const std::string& CallerOrigin();

// A dialog caption (ANSI) naming the caller origin when there is one:
// "caption - origin"; the caption unchanged otherwise.
std::string CaptionWithCallerOrigin(const std::string& caption);

// Sets the caller origin for a scope and restores the previous one.
class ScopedCallerOrigin {
 public:
  explicit ScopedCallerOrigin(const std::string& origin) : saved_(CallerOrigin()) { SetCallerOrigin(origin); }
  ~ScopedCallerOrigin() { SetCallerOrigin(saved_); }
  ScopedCallerOrigin(const ScopedCallerOrigin&) = delete;
  ScopedCallerOrigin& operator=(const ScopedCallerOrigin&) = delete;

 private:
  std::string saved_;
};

}  // namespace kv
