// CCapiObject's identity and automation side: creation and lifetime, the
// interface table, IDispatch through the type library, the class
// information, the safety options and the site.
#include "api/win32/capi_object.h"

#include <new>

#include "api/win32/com_module.h"
#include "engine/capi_engine.h"

namespace kv::com {
namespace {

template <class I>
void* As(CCapiObject* object) {
  return static_cast<I*>(object);
}

struct InterfaceEntry {
  const IID* iid;
  void* (*cast)(CCapiObject*);
};

// The interfaces the object answers, in the order it answers them. The last
// two come with the site lock (IObjectWithSite) and COM's identity rule.
const InterfaceEntry kInterfaces[] = {
    {&IID_ICAPI, &As<ICAPI>},
    {&IID_IDispatch, &As<ICAPI>},
    {&IID_IViewObjectEx, &As<IViewObjectEx>},
    {&IID_IViewObject2, &As<IViewObjectEx>},
    {&IID_IViewObject, &As<IViewObjectEx>},
    {&IID_IOleInPlaceObjectWindowless, &As<IOleInPlaceObjectWindowless>},
    {&IID_IOleInPlaceObject, &As<IOleInPlaceObjectWindowless>},
    {&IID_IOleWindow, &As<IOleInPlaceObjectWindowless>},
    {&IID_IOleInPlaceActiveObject, &As<IOleInPlaceActiveObject>},
    {&IID_IOleControl, &As<IOleControl>},
    {&IID_IOleObject, &As<IOleObject>},
    {&IID_IPersistStreamInit, &As<IPersistStreamInit>},
    {&IID_IPersist, &As<IPersistStreamInit>},
    {&IID_ISpecifyPropertyPages, &As<ISpecifyPropertyPages>},
    {&IID_IQuickActivate, &As<IQuickActivate>},
    {&IID_IPersistStorage, &As<IPersistStorage>},
    {&IID_IDataObject, &As<IDataObject>},
    {&IID_IProvideClassInfo, &As<IProvideClassInfo2>},
    {&IID_IProvideClassInfo2, &As<IProvideClassInfo2>},
    {&IID_IObjectSafety, &As<IObjectSafety>},
    {&IID_IObjectWithSite, &As<IObjectWithSite>},
    {&IID_IUnknown, &As<ICAPI>},
};

bool IsPersistenceInterface(REFIID riid) {
  return IsEqualIID(riid, IID_IPersistStreamInit) || IsEqualIID(riid, IID_IPersistStorage) ||
         IsEqualIID(riid, IID_IPersistPropertyBag);
}

}  // namespace

CCapiObject::CCapiObject() { AddModuleReference(); }

CCapiObject::~CCapiObject() {
  SetClientSiteOnly(nullptr);
  if (m_viewSink) m_viewSink->Release();
  if (m_adviseHolder) m_adviseHolder->Release();
  m_typeInfo.Release();
  ReleaseModuleReference();
}

HRESULT CCapiObject::Create(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  CCapiObject* created = new (std::nothrow) CCapiObject();
  if (!created) return E_OUTOFMEMORY;
  HRESULT hr = LoadCapiTypeInfo(&created->m_typeInfo);
  if (SUCCEEDED(hr)) hr = created->QueryInterface(riid, object);
  created->Release();
  return hr;
}

// --- IUnknown -------------------------------------------------------------

STDMETHODIMP CCapiObject::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  for (const InterfaceEntry& entry : kInterfaces) {
    if (IsEqualIID(riid, *entry.iid)) {
      *object = entry.cast(this);
      AddRef();
      return S_OK;
    }
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CCapiObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) CCapiObject::Release() {
  LONG refs = InterlockedDecrement(&m_refs);
  if (refs == 0) delete this;
  return static_cast<ULONG>(refs);
}

// --- IDispatch --------------------------------------------------------------

STDMETHODIMP CCapiObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP CCapiObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  m_typeInfo.dispatch->AddRef();
  *info = m_typeInfo.dispatch;
  return S_OK;
}

STDMETHODIMP CCapiObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return m_typeInfo.dispatch->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP CCapiObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  // The dual table's description calls the methods above through the
  // virtual table, converting the arguments as their types say.
  return m_typeInfo.vtable->Invoke(static_cast<ICAPI*>(this), id, flags, params, result, exception, argError);
}

// --- IProvideClassInfo2 -----------------------------------------------------

STDMETHODIMP CCapiObject::GetClassInfo(ITypeInfo** info) {
  if (!info) return E_POINTER;
  m_typeInfo.coclass->AddRef();
  *info = m_typeInfo.coclass;
  return S_OK;
}

STDMETHODIMP CCapiObject::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  *guid = GUID_NULL;
  // The class fires no events: it has no outgoing interface to name.
  return kind == GUIDKIND_DEFAULT_SOURCE_DISP_IID ? S_OK : E_INVALIDARG;
}

// --- IObjectSafety ----------------------------------------------------------
// Safe for untrusted callers through IDispatch and for untrusted data through
// persistence; the site lock is what makes the first answer true.

STDMETHODIMP CCapiObject::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) {
  IUnknown* probe = nullptr;
  HRESULT hr = QueryInterface(riid, reinterpret_cast<void**>(&probe));
  if (FAILED(hr)) return hr;
  probe->Release();
  if (!supported || !enabled) return S_OK;
  if (IsEqualIID(riid, IID_IDispatch)) {
    *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    *enabled = m_safety & INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    return S_OK;
  }
  if (IsPersistenceInterface(riid)) {
    *supported = INTERFACESAFE_FOR_UNTRUSTED_DATA;
    *enabled = m_safety & INTERFACESAFE_FOR_UNTRUSTED_DATA;
    return S_OK;
  }
  *supported = 0;
  *enabled = 0;
  return E_FAIL;
}

STDMETHODIMP CCapiObject::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) {
  if (mask == 0 || enabled == 0) return E_FAIL;
  IUnknown* probe = nullptr;
  HRESULT hr = QueryInterface(riid, reinterpret_cast<void**>(&probe));
  if (FAILED(hr)) return hr;
  probe->Release();
  m_safety |= mask & enabled;
  if (IsEqualIID(riid, IID_IDispatch) && (m_safety & INTERFACESAFE_FOR_UNTRUSTED_CALLER)) return S_OK;
  if (IsPersistenceInterface(riid) && (m_safety & INTERFACESAFE_FOR_UNTRUSTED_DATA)) return S_OK;
  return E_FAIL;
}

// --- IObjectWithSite and the lock --------------------------------------------

STDMETHODIMP CCapiObject::SetSite(IUnknown* site) {
  m_siteLock.SetSite(site);
  return S_OK;
}

STDMETHODIMP CCapiObject::GetSite(REFIID riid, void** site) {
  if (!site) return E_POINTER;
  *site = nullptr;
  if (!m_siteLock.Site()) return E_FAIL;
  return m_siteLock.Site()->QueryInterface(riid, site);
}

void CCapiObject::SetClientSiteOnly(IOleClientSite* site) {
  if (site) site->AddRef();
  if (m_clientSite) m_clientSite->Release();
  m_clientSite = site;
}

bool CCapiObject::EnterCall() {
  if (m_siteLock.Allows()) return true;
  TheEngine().ResetErrors();
  TheEngine().Fail(ERR_SITE_NOT_ALLOWED);
  return false;
}

bool CCapiObject::EnterRegistryWrite(BSTR name) {
  if (!EnterCall()) return false;
  if (!m_siteLock.Site() || !CSiteLock::NamesLockSettings(name)) return true;
  TheEngine().ResetErrors();
  TheEngine().Fail(ERR_SITE_NOT_ALLOWED);
  return false;
}

}  // namespace kv::com
