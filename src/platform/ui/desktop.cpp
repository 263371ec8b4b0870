// The active desktop of the common dialogs and the text conversions they
// need at its boundary.
#include "kvwin/desktop.h"

#include <atomic>
#include <vector>

namespace kv::platform {
namespace {

// Dialogs run modally on the calling thread; a thread's dialogs never see
// another thread's desktop.
thread_local Desktop* g_active = nullptr;

bool Convert(UINT from, UINT to, const std::string& in, std::string* out, bool strict = true) {
  out->clear();
  if (in.empty()) return true;
  int n = static_cast<int>(in.size());
  DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
  int wide = MultiByteToWideChar(from, flags, in.data(), n, nullptr, 0);
  if (wide <= 0) return false;
  std::vector<WCHAR> buffer(static_cast<size_t>(wide));
  if (MultiByteToWideChar(from, flags, in.data(), n, buffer.data(), wide) != wide) return false;
  BOOL usedDefault = FALSE;
  LPBOOL check = (to == CP_UTF8 || !strict) ? nullptr : &usedDefault;
  int narrow = WideCharToMultiByte(to, 0, buffer.data(), wide, nullptr, 0, nullptr, check);
  if (narrow <= 0 || usedDefault) return false;
  out->resize(static_cast<size_t>(narrow));
  if (WideCharToMultiByte(to, 0, buffer.data(), wide, &(*out)[0], narrow, nullptr, check) != narrow || usedDefault) {
    out->clear();
    return false;
  }
  return true;
}

// Process-wide, as the system's own question is.
std::atomic<RootStorePrompt> g_rootStorePrompt{nullptr};
std::atomic<TokenPinPrompt> g_tokenPinPrompt{nullptr};

}  // namespace

RootStorePrompt SwapRootStorePrompt(RootStorePrompt next) { return g_rootStorePrompt.exchange(next); }
RootStorePrompt ActiveRootStorePrompt() { return g_rootStorePrompt.load(); }
TokenPinPrompt SwapTokenPinPrompt(TokenPinPrompt next) { return g_tokenPinPrompt.exchange(next); }
TokenPinPrompt ActiveTokenPinPrompt() { return g_tokenPinPrompt.load(); }

Desktop* ActiveDesktop() { return g_active; }

Desktop* SwapDesktop(Desktop* next) {
  Desktop* previous = g_active;
  g_active = next;
  return previous;
}

ScopedDesktop::ScopedDesktop(Desktop* desktop) : previous_(g_active) { g_active = desktop; }
ScopedDesktop::~ScopedDesktop() { g_active = previous_; }

bool DesktopTextFromAnsi(const std::string& ansi, std::string* utf8) { return Convert(CP_ACP, CP_UTF8, ansi, utf8); }

std::string DesktopTextLenient(const std::string& ansi) {
  std::string out;
  if (Convert(CP_ACP, CP_UTF8, ansi, &out)) return out;
  if (Convert(CP_ACP, CP_UTF8, ansi, &out, false)) return out;
  // Nothing converts: keep the ASCII bytes.
  out.clear();
  for (char c : ansi) out += (static_cast<unsigned char>(c) < 0x80) ? c : '?';
  return out;
}

bool AnsiFromDesktopText(const std::string& utf8, std::string* ansi) { return Convert(CP_UTF8, CP_ACP, utf8, ansi); }

bool DesktopPathFromAnsi(const std::string& ansi, std::string* native) {
  if (!DesktopTextFromAnsi(ansi, native)) return false;
  // After the conversion a 0x5C byte is always a backslash of its own.
  for (char& c : *native)
    if (c == '\\') c = '/';
  return true;
}

}  // namespace kv::platform
