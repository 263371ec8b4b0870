// Origin of a document URL and allow-list matching for the site lock.
#include "host/site_origin.h"

#include <cstdlib>

namespace kv {
namespace {

// ASCII lower case of the text; anything beyond ASCII becomes 0x01, which no
// rule below accepts, so a look-alike character can never pass for a letter.
std::string AsciiLower(const std::basic_string<WCHAR>& text) {
  std::string out;
  out.reserve(text.size());
  for (WCHAR c : text) {
    unsigned u = static_cast<unsigned>(c);
    if (u >= 0x80 || u == 0) {
      out.push_back('\x01');
    } else {
      char a = static_cast<char>(u);
      out.push_back(a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a);
    }
  }
  return out;
}

bool IsHostLabelChar(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; }

// A DNS name or IPv4 address (labels of letters, digits and hyphens, no empty
// label, no trailing dot) or a bracketed IPv6 address.
bool IsValidHost(const std::string& host) {
  if (host.empty() || host.size() > 255) return false;
  if (host.front() == '[') {
    if (host.size() < 4 || host.back() != ']') return false;
    for (size_t i = 1; i + 1 < host.size(); ++i) {
      char c = host[i];
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == ':' || c == '.')) return false;
    }
    return true;
  }
  size_t label = 0;
  for (char c : host) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
    } else if (IsHostLabelChar(c)) {
      ++label;
    } else {
      return false;
    }
  }
  return label != 0;
}

// C0 controls (NUL, tab, line breaks...) and DEL. Browsers never hand out a
// URL with one, and text past one may be cut off by whatever reads it next.
bool HasControlCharacter(const std::basic_string<WCHAR>& text) {
  for (WCHAR c : text)
    if (static_cast<unsigned>(c) < 0x20 || static_cast<unsigned>(c) == 0x7f) return true;
  return false;
}

int DefaultPort(const std::string& scheme) { return scheme == "https" ? 443 : 80; }

// "1".."65535" with nothing else.
bool ParsePort(const std::string& text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

// Splits "scheme://authority..." into its scheme and the authority (up to the
// first character that ends it). Browsers treat a backslash in an http URL
// as a slash, so it ends the authority too.
bool SplitUrl(const std::string& url, std::string* scheme, std::string* authority) {
  size_t colon = url.find("://");
  if (colon == std::string::npos) return false;
  *scheme = url.substr(0, colon);
  if (*scheme != "http" && *scheme != "https") return false;
  size_t start = colon + 3;
  size_t end = url.find_first_of("/\\?#", start);
  *authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  return true;
}

// "host[:port]" (host possibly "[v6]") into its parts, the port defaulted.
bool SplitHostPort(const std::string& text, const std::string& scheme, std::string* host, int* port) {
  size_t colon = std::string::npos;
  if (!text.empty() && text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos) return false;
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      colon = close + 1;
    }
  } else {
    colon = text.find(':');
  }
  *port = DefaultPort(scheme);
  if (colon != std::string::npos && !ParsePort(text.substr(colon + 1), port)) return false;
  *host = text.substr(0, colon);
  return true;
}

// localhost, an IPv4 address of 127.0.0.0/8, or [::1].
bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "[::1]") return true;
  if (host.compare(0, 4, "127.") != 0) return false;
  int dots = 0;
  for (char c : host) {
    if (c == '.')
      ++dots;
    else if (c < '0' || c > '9')
      return false;
  }
  return dots == 3;
}

}  // namespace

bool PlainHttpAllowed(const SiteOrigin& origin) { return origin.scheme != "http" || IsLoopbackHost(origin.host); }

std::string EntryProblem(const std::basic_string<WCHAR>& entry) {
  std::string scheme, authority, host;
  int port = 0;
  if (HasControlCharacter(entry) || !SplitUrl(AsciiLower(entry), &scheme, &authority) ||
      !SplitHostPort(authority, scheme, &host, &port))
    return std::string();
  if (scheme == "http" && !IsLoopbackHost(host))
    return "plain http is admitted for this computer only (localhost, 127.0.0.1, [::1]): anyone on the network "
           "could inject script into http://" + host + "; list https://" + host + " instead";
  return std::string();
}

bool IsPrintableAsciiOrigin(const std::basic_string<WCHAR>& text) {
  if (text.empty()) return false;
  for (WCHAR c : text)
    if (static_cast<unsigned>(c) <= 0x20 || static_cast<unsigned>(c) >= 0x7f) return false;
  return true;
}

bool ParseDocumentOrigin(const std::basic_string<WCHAR>& url, SiteOrigin* origin) {
  if (HasControlCharacter(url)) return false;
  std::string scheme, authority;
  if (!SplitUrl(AsciiLower(url), &scheme, &authority)) return false;
  // user:password@host: the host is what follows the last at sign.
  size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  SiteOrigin parsed;
  parsed.scheme = scheme;
  if (!SplitHostPort(authority, scheme, &parsed.host, &parsed.port) || !IsValidHost(parsed.host)) return false;
  *origin = parsed;
  return true;
}

bool OriginMatchesEntry(const SiteOrigin& origin, const std::basic_string<WCHAR>& entry) {
  if (HasControlCharacter(entry)) return false;
  std::string scheme, authority;
  if (!SplitUrl(AsciiLower(entry), &scheme, &authority)) return false;
  if (authority.find('@') != std::string::npos) return false;
  std::string host;
  int port = 0;
  if (!SplitHostPort(authority, scheme, &host, &port)) return false;
  if (scheme != origin.scheme || port != origin.port) return false;
  if (scheme == "http" && !IsLoopbackHost(host)) return false;
  if (host.compare(0, 2, "*.") == 0) {
    std::string domain = host.substr(1);  // ".example.com.tw"
    if (!IsValidHost(domain.substr(1)) || domain.find('.', 1) == std::string::npos) return false;
    return origin.host.size() > domain.size() &&
           origin.host.compare(origin.host.size() - domain.size(), domain.size(), domain) == 0;
  }
  return IsValidHost(host) && host == origin.host;
}

}  // namespace kv
