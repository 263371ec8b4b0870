// Reading and extending the allow-lists through the registry calls (the
// Windows registry, or the stand-in's on Linux).
#include "host/allowed_sites.h"

#include "vocabulary/text.h"

namespace kv {
namespace {

const char kMachineKey[] = "SOFTWARE\\Korvessa\\CAPI";
const char kListKey[] = "SOFTWARE\\Korvessa\\CAPI\\AllowedSites";
const char kDeniedKey[] = "SOFTWARE\\Korvessa\\CAPI\\DeniedSites";
const char kUserListAllowed[] = "AllowUserSites";
const char kUserKeyPrefix[] = "Software\\Korvessa";

// Longest entry kept, in bytes of ANSI text; no origin is longer.
constexpr DWORD kMaxEntryBytes = 2046;

const char* ListKey(UserList list) { return list == UserList::kAllowed ? kListKey : kDeniedKey; }

struct NamedEntry {
  std::string name;
  std::basic_string<WCHAR> entry;
};

// The REG_SZ values of one list key, with their names.
std::vector<NamedEntry> ReadEntries(HKEY root, const char* listKey) {
  std::vector<NamedEntry> entries;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, listKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return entries;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameLength = sizeof(name);
    DWORD type = 0;
    BYTE data[kMaxEntryBytes + 2];
    DWORD size = kMaxEntryBytes;
    LONG rc = RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &size);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;  // too long or not text: no entry
    std::string entry(reinterpret_cast<const char*>(data), size);
    while (!entry.empty() && entry.back() == '\0') entry.pop_back();
    std::u16string wide = NarrowToWide(entry);
    entries.push_back({std::string(name, nameLength), std::basic_string<WCHAR>(wide.begin(), wide.end())});
  }
  RegCloseKey(key);
  return entries;
}

}  // namespace

std::vector<std::basic_string<WCHAR>> ReadSiteList(HKEY root) {
  std::vector<std::basic_string<WCHAR>> entries;
  for (NamedEntry& e : ReadEntries(root, kListKey)) entries.push_back(std::move(e.entry));
  return entries;
}

std::vector<std::basic_string<WCHAR>> ReadDeniedList() {
  std::vector<std::basic_string<WCHAR>> entries;
  for (NamedEntry& e : ReadEntries(HKEY_CURRENT_USER, kDeniedKey)) entries.push_back(std::move(e.entry));
  return entries;
}

bool UserSitesAllowed() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMachineKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD value = 0, size = sizeof(value), type = 0;
  LONG rc = RegQueryValueExA(key, kUserListAllowed, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value) && value == 1;
}

bool OriginListed(const SiteOrigin& origin) {
  std::vector<std::basic_string<WCHAR>> entries = ReadSiteList(HKEY_LOCAL_MACHINE);
  if (UserSitesAllowed()) {
    std::vector<std::basic_string<WCHAR>> user = ReadSiteList(HKEY_CURRENT_USER);
    entries.insert(entries.end(), user.begin(), user.end());
  }
  for (const std::basic_string<WCHAR>& entry : entries)
    if (OriginMatchesEntry(origin, entry)) return true;
  return false;
}

std::string OriginText(const SiteOrigin& origin) {
  return origin.scheme + "://" + origin.host + ":" + std::to_string(origin.port);
}

bool OriginDenied(const SiteOrigin& origin) {
  if (!UserSitesAllowed()) return false;
  for (const std::basic_string<WCHAR>& entry : ReadDeniedList())
    if (OriginMatchesEntry(origin, entry)) return true;
  return false;
}

int ForgetUserSite(UserList list, const std::basic_string<WCHAR>& entry) {
  std::vector<NamedEntry> entries = ReadEntries(HKEY_CURRENT_USER, ListKey(list));
  HKEY key = nullptr;
  if (entries.empty()) return 0;
  LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, ListKey(list), 0, KEY_WRITE, &key);
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return -1;
  }
  int removed = 0;
  for (const NamedEntry& e : entries) {
    if (e.entry != entry) continue;
    rc = RegDeleteValueA(key, e.name.c_str());
    if (rc != ERROR_SUCCESS) break;
    ++removed;
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return -1;
  }
  return removed;
}

bool RememberUserSite(const SiteOrigin& origin, UserList list) {
  if (!UserSitesAllowed()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // One answer per site: a site allowed for good is no longer refused, and
  // the other way round.
  std::string text = OriginText(origin);
  std::u16string wide = NarrowToWide(text);
  if (ForgetUserSite(list == UserList::kAllowed ? UserList::kDenied : UserList::kAllowed,
                     std::basic_string<WCHAR>(wide.begin(), wide.end())) < 0)
    return false;
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, ListKey(list), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return false;
  }
  // The value's name is the origin itself, so allowing a site twice keeps
  // one entry.
  rc = RegSetValueExA(key, text.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                      static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return false;
  }
  return true;
}

bool NamesSiteLockSettings(const WCHAR* registryName) {
  if (!registryName) return false;
  std::string folded;
  for (const WCHAR* p = registryName; *p; ++p) {
    if (*p == u'\\' && (folded.empty() || folded.back() == '\\')) continue;
    unsigned c = static_cast<unsigned>(*p);
    // Beyond ASCII nothing can match the prefix; keep a placeholder.
    char a = c < 0x80 ? static_cast<char>(c) : '\x01';
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    folded.push_back(a);
  }
  std::string prefix;
  for (const char* p = kUserKeyPrefix; *p; ++p)
    prefix.push_back(*p >= 'A' && *p <= 'Z' ? static_cast<char>(*p - 'A' + 'a') : *p);
  if (folded.compare(0, prefix.size(), prefix) != 0) return false;
  return folded.size() == prefix.size() || folded[prefix.size()] == '\\';
}

}  // namespace kv
