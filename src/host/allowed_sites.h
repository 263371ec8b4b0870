// The allow-lists shared by every door that serves web pages (the scriptable
// object's site lock and the browser extension's native host): where they
// live in the registry, whether the per-user list counts, whether an origin
// is listed, remembering an origin the user allowed or refused for good, and
// taking such an answer back.
//
//   HKEY_LOCAL_MACHINE\SOFTWARE\Korvessa\CAPI\AllowedSites   (REG_SZ values)
//   HKEY_CURRENT_USER\Software\Korvessa\CAPI\AllowedSites    (REG_SZ values),
//     read only when HKEY_LOCAL_MACHINE\SOFTWARE\Korvessa\CAPI has the
//     REG_DWORD AllowUserSites set to 1.
//   HKEY_CURRENT_USER\Software\Korvessa\CAPI\DeniedSites     (REG_SZ values):
//     origins the user refused for good; the machine list outranks it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host/site_origin.h"

namespace kv {

// The REG_SZ entries of one list (values of any name; other types and values
// too long to be an origin are no entry). A missing key is an empty list.
std::vector<std::basic_string<WCHAR>> ReadSiteList(HKEY root);

// The user's list of refused sites.
std::vector<std::basic_string<WCHAR>> ReadDeniedList();

// Whether the machine lets users extend the list (AllowUserSites = 1).
bool UserSitesAllowed();

// Whether the origin matches an entry of the machine list, or of the user
// list where the machine allows it.
bool OriginListed(const SiteOrigin& origin);

// The user's two lists.
enum class UserList { kAllowed, kDenied };

// Whether the origin is on the user's list of refused sites (read only where
// the machine allows user sites).
bool OriginDenied(const SiteOrigin& origin);

// Adds the origin ("scheme://host:port") to one of the user's lists, taking
// it off the other. Refused (false) where the machine does not allow user
// sites, since the entry would never be read; the registry's error is left
// as the thread's last error.
bool RememberUserSite(const SiteOrigin& origin, UserList list = UserList::kAllowed);

// Removes every entry of the user's list whose text is `entry`; how many went
// (-1 when the list could not be changed, the error as the last error).
int ForgetUserSite(UserList list, const std::basic_string<WCHAR>& entry);

// "scheme://host:port" with the port always explicit.
std::string OriginText(const SiteOrigin& origin);

// Whether a registry name given to RegWriteHKCUInt/RegWriteHKCUStr lands in
// the lists' own per-user key: a page must not extend its own permission (or
// another site's) through the engine. Runs of backslashes and a leading one
// are folded as the registry folds them; the comparison ignores ASCII case.
bool NamesSiteLockSettings(const WCHAR* registryName);

}  // namespace kv
