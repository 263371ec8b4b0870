// The site lock's origin rules: the origin of the page that hosts the
// scriptable object, read from its document URL, and the allow-list entries
// it is compared with. Pure text rules, so both platforms test them; the
// Windows object finds the URL and reads the lists (api/win32/site_lock.cpp).
#pragma once

#include <windows.h>

#include <string>

namespace kv {

// scheme://host:port of a page, lower case, the port always explicit.
struct SiteOrigin {
  std::string scheme;  // "https" or "http"
  std::string host;    // a DNS name, an IPv4 address or a bracketed IPv6 one
  int port = 0;
};

// The origin of a document URL. Only http and https pages have one here:
// file:, about:, javascript: and the like, user names hidden in the
// authority that leave no host, hosts outside plain ASCII (a page's URL
// carries the punycode form) or with escapes, bad ports, and URLs with a
// control character anywhere (a NUL too) give false.
bool ParseDocumentOrigin(const std::basic_string<WCHAR>& url, SiteOrigin* origin);

// Whether the text is an origin as a browser reports one: printable ASCII
// only (a browser's origin carries a host in its punycode form), with no
// blank and no control character. Text after a NUL or a line break must not
// be able to hide behind what a reader of the text sees.
bool IsPrintableAsciiOrigin(const std::basic_string<WCHAR>& text);

// One allow-list entry: "https://trade.example.com.tw", "https://*.example.com.tw"
// (any subdomain, not the domain itself) or either with ":port"; the port
// defaults to the scheme's. Anything after the authority ("/", a path) is
// ignored. Malformed entries, entries with a control character, and plain
// http entries for hosts other than this computer's match nothing.
bool OriginMatchesEntry(const SiteOrigin& origin, const std::basic_string<WCHAR>& entry);

// Whether plain http may be trusted for the origin: only this computer's own
// names (localhost, 127.0.0.0/8, [::1]) are out of reach of whoever can
// inject script into a page on its way through a network.
bool PlainHttpAllowed(const SiteOrigin& origin);

// Why an allow-list entry is refused, for the person who wrote it (English);
// empty when it is not. Malformed entries are not judged here: they simply
// match nothing.
std::string EntryProblem(const std::basic_string<WCHAR>& entry);

}  // namespace kv
