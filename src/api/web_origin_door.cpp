// What the browsers' native host asks of the library before it makes a
// page's calls: admit the page's origin (allow-list, else the user's
// consent where the machine allows user sites) and make it the caller
// origin that every later dialog names. One origin per process: once
// admitted, the origin cannot be changed; a second, different origin is
// refused.
//
// Not one of the scriptable operations: a door's own entry point, exported
// beside them (on Windows by its plain name in korvessa.def) for the native
// host, which loads the library as the command-line host does.
#include "api/export_door.h"

#include <string>

#include "vocabulary/text.h"
#include "host/allowed_sites.h"
#include "host/caller_origin.h"
#include "host/site_origin.h"
#include "ui/consent_dialog.h"

namespace {

bool Admit(const kv::SiteOrigin& origin) {
  if (kv::OriginListed(origin)) return true;
  // Only where users may extend the list is the user asked: elsewhere the
  // machine's list is the whole answer, and "always" could not be kept.
  if (!kv::UserSitesAllowed()) return false;
  switch (kv::ui::AskOriginConsent(kv::OriginText(origin))) {
    case kv::ui::Consent::kOnce:
      return true;
    case kv::ui::Consent::kAlways:
      // Allowed now even if the list cannot be written; the next visit asks
      // again.
      kv::RememberUserSite(origin);
      return true;
    case kv::ui::Consent::kDeny:
      break;
  }
  return false;
}

}  // namespace

// 0 when the origin (as the browser reported the page's, "scheme://host[:port]",
// printable ASCII only) may use the engine from now on; ERR_SITE_NOT_ALLOWED
// otherwise, also in the engine's error state so that GetErrorCode/GetErrorMsg
// tell the page why.
KV_EXPORT(LONG) KvAdmitWebOrigin(LPCWSTR originText) {
  CCapiEngine& engine = TheEngine();
  engine.ResetErrors();
  kv::SiteOrigin origin;
  std::basic_string<WCHAR> text;
  if (originText) text = originText;
  bool admitted = false;
  if (kv::IsPrintableAsciiOrigin(text) && kv::ParseDocumentOrigin(text, &origin)) {
    const std::string normal = kv::OriginText(origin);
    const std::string& pinned = kv::CallerOrigin();
    if (!pinned.empty())
      admitted = pinned == normal;
    else if (Admit(origin)) {
      kv::SetCallerOrigin(normal);
      admitted = true;
    }
  }
  if (admitted) return ERR_SUCCESS;
  engine.Fail(ERR_SITE_NOT_ALLOWED);
  return ERR_SITE_NOT_ALLOWED;
}
