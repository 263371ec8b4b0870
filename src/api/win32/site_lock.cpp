// The site lock: the hosting page's URL learned from the object's site, its
// origin compared with the allow-lists in the registry.
#include "api/win32/site_lock.h"

#include <exdisp.h>
#include <mshtml.h>
#include <oleidl.h>
#include <servprov.h>
#include <shlguid.h>
#include <urlmon.h>

#include <vector>

#include "host/site_origin.h"

namespace kv::com {
namespace {

const wchar_t kMachineKey[] = L"SOFTWARE\\Korvessa\\CAPI";
const wchar_t kListSubkey[] = L"AllowedSites";
const wchar_t kUserListAllowed[] = L"AllowUserSites";
const wchar_t kUserKeyPrefix[] = L"Software\\Korvessa";

// Text of a BSTR result, freed.
std::wstring TakeBstr(BSTR text) {
  std::wstring out = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return out;
}

// The page of an object tag: the client site's container is the document.
std::wstring UrlFromContainerDocument(IUnknown* site, bool* isPage) {
  IOleClientSite* client = nullptr;
  if (FAILED(site->QueryInterface(IID_IOleClientSite, reinterpret_cast<void**>(&client)))) return {};
  std::wstring url;
  IOleContainer* container = nullptr;
  if (SUCCEEDED(client->GetContainer(&container)) && container) {
    IHTMLDocument2* document = nullptr;
    if (SUCCEEDED(container->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&document)))) {
      *isPage = true;
      BSTR text = nullptr;
      if (SUCCEEDED(document->get_URL(&text))) url = TakeBstr(text);
      document->Release();
    }
    container->Release();
  }
  client->Release();
  return url;
}

// A script's object (new ActiveXObject): the browser behind the site's
// service provider knows its location.
// A browser's sites also offer its security manager, whether or not the
// location can be read.
std::wstring UrlFromBrowserService(IUnknown* site, bool* isPage) {
  IServiceProvider* services = nullptr;
  if (FAILED(site->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services)))) return {};
  std::wstring url;
  IInternetHostSecurityManager* security = nullptr;
  if (SUCCEEDED(services->QueryService(SID_SInternetHostSecurityManager, IID_IInternetHostSecurityManager,
                                       reinterpret_cast<void**>(&security))) &&
      security) {
    *isPage = true;
    security->Release();
  }
  IWebBrowser2* browser = nullptr;
  if (SUCCEEDED(services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, reinterpret_cast<void**>(&browser))) &&
      browser) {
    *isPage = true;
    BSTR text = nullptr;
    if (SUCCEEDED(browser->get_LocationURL(&text))) url = TakeBstr(text);
    browser->Release();
  }
  services->Release();
  return url;
}

// Any other container that names its document by a moniker.
std::wstring UrlFromContainerMoniker(IUnknown* site, bool* isPage) {
  IOleClientSite* client = nullptr;
  if (FAILED(site->QueryInterface(IID_IOleClientSite, reinterpret_cast<void**>(&client)))) return {};
  std::wstring url;
  IMoniker* moniker = nullptr;
  if (SUCCEEDED(client->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_CONTAINER, &moniker)) && moniker) {
    *isPage = true;
    IBindCtx* context = nullptr;
    if (SUCCEEDED(CreateBindCtx(0, &context))) {
      LPOLESTR name = nullptr;
      if (SUCCEEDED(moniker->GetDisplayName(context, nullptr, &name)) && name) {
        url = name;
        CoTaskMemFree(name);
      }
      context->Release();
    }
    moniker->Release();
  }
  client->Release();
  return url;
}

// REG_SZ values of root\path\AllowedSites.
std::vector<std::wstring> ReadList(HKEY root, const wchar_t* path) {
  std::vector<std::wstring> entries;
  std::wstring keyName = std::wstring(path) + L"\\" + kListSubkey;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return entries;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    DWORD type = 0;
    BYTE data[2048];
    DWORD size = sizeof(data) - sizeof(wchar_t);
    LONG rc = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;  // too long or not text: no entry
    std::wstring entry(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t));
    while (!entry.empty() && entry.back() == L'\0') entry.pop_back();
    entries.push_back(entry);
  }
  RegCloseKey(key);
  return entries;
}

bool UserListAllowed() {
  DWORD value = 0, size = sizeof(value), type = 0;
  LONG rc = RegGetValueW(HKEY_LOCAL_MACHINE, kMachineKey, kUserListAllowed, RRF_RT_REG_DWORD, &type, &value, &size);
  return rc == ERROR_SUCCESS && value == 1;
}

bool OriginListed(const SiteOrigin& origin) {
  std::vector<std::wstring> entries = ReadList(HKEY_LOCAL_MACHINE, kMachineKey);
  if (UserListAllowed()) {
    std::vector<std::wstring> user = ReadList(HKEY_CURRENT_USER, kMachineKey);
    entries.insert(entries.end(), user.begin(), user.end());
  }
  for (const std::wstring& entry : entries)
    if (OriginMatchesEntry(origin, std::basic_string<WCHAR>(entry.begin(), entry.end()))) return true;
  return false;
}

}  // namespace

SitePage InspectSite(IUnknown* site) {
  SitePage page;
  if (!site) return page;
  page.url = UrlFromContainerDocument(site, &page.isPage);
  std::wstring browserUrl = UrlFromBrowserService(site, &page.isPage);
  if (page.url.empty()) page.url = browserUrl;
  if (page.url.empty()) page.url = UrlFromContainerMoniker(site, &page.isPage);
  return page;
}

CSiteLock::~CSiteLock() {
  if (m_site) m_site->Release();
}

void CSiteLock::SetSite(IUnknown* site) {
  if (site) {
    site->AddRef();
    if (InspectSite(site).isPage) m_wasInPage = true;
  }
  if (m_site) m_site->Release();
  m_site = site;
  m_decided = false;
}

bool CSiteLock::Allows() {
  if (!m_site) return !m_wasInPage;
  if (!m_decided) {
    SitePage page = InspectSite(m_site);
    if (page.isPage) m_wasInPage = true;
    SiteOrigin origin;
    m_allowed = !m_wasInPage ||
                (!page.url.empty() &&
                 ParseDocumentOrigin(std::basic_string<WCHAR>(page.url.begin(), page.url.end()), &origin) &&
                 OriginListed(origin));
    m_decided = true;
  }
  return m_allowed;
}

bool CSiteLock::NamesLockSettings(const WCHAR* registryName) {
  if (!registryName) return false;
  // The registry treats runs of backslashes and a leading one loosely; compare
  // the name with those folded away.
  std::wstring folded;
  for (const WCHAR* p = registryName; *p; ++p) {
    if (*p == L'\\' && (folded.empty() || folded.back() == L'\\')) continue;
    folded.push_back(*p);
  }
  size_t n = wcslen(kUserKeyPrefix);
  if (folded.size() < n || _wcsnicmp(folded.c_str(), kUserKeyPrefix, n) != 0) return false;
  return folded.size() == n || folded[n] == L'\\';
}

}  // namespace kv::com
