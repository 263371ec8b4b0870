// What the browsers' native host asks of the library before it makes a
// page's calls: admit the page's origin (allow-list, else the user's
// consent where the machine allows user sites) and make it the caller
// origin that every later dialog names. One origin per process: once
// admitted, the origin cannot be changed; a second, different origin is
// refused. The host asks once per page, since a "this time" answer lasts for
// the page. And what the extension's options page shows and changes: the
// lists, and the user's own answers taken back.
//
// Not scriptable operations: a door's own entry points, exported beside
// them (on Windows by their plain names in korvessa.def) for the native
// host, which loads the library as the command-line host does. None of them
// touches what a page's GetErrorCode reads, except the refusal itself.
#include "api/export_door.h"

#include <string>
#include <vector>

#include "vocabulary/text.h"
#include "host/allowed_sites.h"
#include "host/caller_origin.h"
#include "host/site_origin.h"
#include "ui/consent_dialog.h"

namespace {

bool Admit(const kv::SiteOrigin& origin, bool mayAsk) {
  // Plain http from another computer: whoever sits on the network could
  // speak for the site, so no list and no person can admit it.
  if (!kv::PlainHttpAllowed(origin)) return false;
  if (kv::OriginListed(origin)) return true;
  // Only where users may extend the list is the user asked: elsewhere the
  // machine's list is the whole answer, and "always" could not be kept.
  if (!mayAsk || !kv::UserSitesAllowed() || kv::OriginDenied(origin)) return false;
  switch (kv::ui::AskOriginConsent(kv::OriginText(origin))) {
    case kv::ui::Consent::kOnce:
      return true;
    case kv::ui::Consent::kAlways:
      // Allowed now even if the list cannot be written; the next visit asks
      // again.
      kv::RememberUserSite(origin, kv::UserList::kAllowed);
      return true;
    case kv::ui::Consent::kDenyAlways:
      kv::RememberUserSite(origin, kv::UserList::kDenied);
      break;
    case kv::ui::Consent::kDeny:
      break;
  }
  return false;
}

void AppendLines(const char* list, const std::vector<std::basic_string<WCHAR>>& entries, std::string* out) {
  for (const std::basic_string<WCHAR>& entry : entries) {
    // An entry is one line: a line break or tab inside one would forge another.
    std::string text = kv::WideToNarrow(entry.c_str(), static_cast<int>(entry.size()));
    bool plain = true;
    for (char c : text)
      if (c == '\n' || c == '\r' || c == '\t') plain = false;
    if (!plain) continue;
    const std::string problem = kv::EntryProblem(entry);
    if (problem.empty())
      *out += std::string(list) + "\t" + text + "\n";
    else
      *out += "refused\t" + text + "\t" + problem + "\n";
  }
}

LONG AdmitWebOrigin(LPCWSTR originText, bool mayAsk) {
  kv::SiteOrigin origin;
  std::basic_string<WCHAR> text;
  if (originText) text = originText;
  bool admitted = false;
  if (kv::IsPrintableAsciiOrigin(text) && kv::ParseDocumentOrigin(text, &origin)) {
    const std::string normal = kv::OriginText(origin);
    const std::string& pinned = kv::CallerOrigin();
    if ((pinned.empty() || pinned == normal) && Admit(origin, mayAsk)) {
      kv::SetCallerOrigin(normal);
      admitted = true;
    }
  }
  // Admitting a site's next page is no call of the site's: what its
  // GetErrorCode reads stays the outcome of its latest call.
  if (admitted) return ERR_SUCCESS;
  CCapiEngine& engine = TheEngine();
  engine.ResetErrors();
  engine.Fail(ERR_SITE_NOT_ALLOWED);
  return ERR_SITE_NOT_ALLOWED;
}

}  // namespace

// 0 when the origin (as the browser reported the page's, "scheme://host[:port]",
// printable ASCII only) may use the engine from now on; ERR_SITE_NOT_ALLOWED
// otherwise, also in the engine's error state so that GetErrorCode/GetErrorMsg
// tell the page why. Asks the person where the lists leave it open.
KV_EXPORT(LONG) KvAdmitWebOrigin(LPCWSTR originText) { return AdmitWebOrigin(originText, true); }

// The same judgement by the lists alone, never asking: for a page's calls,
// which must not be able to raise the consent dialog.
KV_EXPORT(LONG) KvAdmitListedWebOrigin(LPCWSTR originText) { return AdmitWebOrigin(originText, false); }

// The lists as lines "LIST\tENTRY": LIST is "machine", "user" (counted only
// where the machine allows user sites) or "denied"; "refused\tENTRY\tWHY" for
// an entry of either allow-list that is never admitted; a first line
// "userSites\t1" or "userSites\t0" says whether users may add sites.
KV_EXPORT(BSTR) KvWebSiteLists() {
  std::string text = std::string("userSites\t") + (kv::UserSitesAllowed() ? "1" : "0") + "\n";
  AppendLines("machine", kv::ReadSiteList(HKEY_LOCAL_MACHINE), &text);
  AppendLines("user", kv::ReadSiteList(HKEY_CURRENT_USER), &text);
  AppendLines("denied", kv::ReadDeniedList(), &text);
  return kv::NarrowToBstr(text);
}

// Takes the user's answer for `entry` back: list "user" (allowed) or
// "denied". How many entries went, or -1 when the list could not be changed.
KV_EXPORT(LONG) KvForgetWebSite(LPCWSTR list, LPCWSTR entry) {
  if (!list || !entry) return -1;
  const std::string which = kv::WideToNarrow(list);
  kv::UserList userList;
  if (which == "user")
    userList = kv::UserList::kAllowed;
  else if (which == "denied")
    userList = kv::UserList::kDenied;
  else
    return -1;
  return kv::ForgetUserSite(userList, std::basic_string<WCHAR>(entry));
}
