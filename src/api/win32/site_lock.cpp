// The site lock: the hosting page's URL learned from the object's site, its
// origin compared with the allow-lists (host/allowed_sites.h, shared with the
// browser door).
#include "api/win32/site_lock.h"

#include <exdisp.h>
#include <mshtml.h>
#include <oleidl.h>
#include <servprov.h>
#include <shlguid.h>
#include <urlmon.h>

#include "host/allowed_sites.h"
#include "host/site_origin.h"

namespace kv::com {
namespace {

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

bool CSiteLock::NamesLockSettings(const WCHAR* registryName) { return NamesSiteLockSettings(registryName); }

}  // namespace kv::com
