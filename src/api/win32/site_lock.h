// The site lock: a CAPI object placed in a web page answers only pages whose
// origin is on the allow-list; an object with no site (a desktop script host,
// a program creating it directly) is unaffected.
//
// Allow-list (REG_SZ values of any name, each one origin pattern, see
// host/site_origin.h):
//   HKEY_LOCAL_MACHINE\SOFTWARE\Korvessa\CAPI\AllowedSites
//   HKEY_CURRENT_USER\Software\Korvessa\CAPI\AllowedSites, read only when
//     HKEY_LOCAL_MACHINE\SOFTWARE\Korvessa\CAPI has the REG_DWORD value
//     AllowUserSites set to 1.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

namespace kv::com {

class CSiteLock {
 public:
  CSiteLock() = default;
  ~CSiteLock();
  CSiteLock(const CSiteLock&) = delete;
  CSiteLock& operator=(const CSiteLock&) = delete;

  // The object's new site (IObjectWithSite::SetSite, IOleObject::SetClientSite,
  // IQuickActivate::QuickActivate); null when it leaves its page. The page's
  // URL and the lists are read at the first call that needs the answer.
  void SetSite(IUnknown* site);
  IUnknown* Site() const { return m_site; }

  // True when operations may run: no page (no site, or a site that shows
  // no web page: a desktop script host's engine), or a page whose origin is
  // listed. A page whose URL cannot be learned is refused, and so is an
  // object that was in a page and has lost its site.
  bool Allows();

  // Whether a registry name given to RegWriteHKCUInt/RegWriteHKCUStr would
  // land in this lock's own per-user list: a page must not extend its own
  // permission (or another site's) through the object.
  static bool NamesLockSettings(const WCHAR* registryName);

 private:
  IUnknown* m_site = nullptr;
  // Once placed in a page the object stays locked: a page that removes it
  // (its site becomes null) must not keep a reference that answers freely.
  bool m_wasInPage = false;
  bool m_decided = false;
  bool m_allowed = true;
};

// What a site shows of its page: whether it is one (a document, a browser,
// a container moniker or the browser's security manager behind it) and the
// document's URL when it can be read.
struct SitePage {
  bool isPage = false;
  std::wstring url;
};
SitePage InspectSite(IUnknown* site);

}  // namespace kv::com
