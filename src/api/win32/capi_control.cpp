// CCapiObject as a control: an invisible, windowless object with no
// properties. It keeps what a container hands it (client site, advise sinks,
// extent), activates in place without a window, draws nothing and stores
// nothing.
#include <olectl.h>

#include "api/win32/capi_object.h"
#include "korvessa_idl.h"

namespace kv::com {
namespace {

// OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
// OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE, as registered.
constexpr DWORD kMiscStatus = 131473;
static_assert(kMiscStatus == (OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
                              OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE),
              "registered MiscStatus");

}  // namespace

// --- IViewObject, IViewObject2, IViewObjectEx ---------------------------------

STDMETHODIMP CCapiObject::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC, LPCRECTL, LPCRECTL,
                               BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
  return aspect == DVASPECT_CONTENT ? S_OK : DV_E_DVASPECT;
}
STDMETHODIMP CCapiObject::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
  if (colors) *colors = nullptr;
  return S_FALSE;  // no palette of its own
}
STDMETHODIMP CCapiObject::Freeze(DWORD, LONG, void*, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP CCapiObject::Unfreeze(DWORD) { return E_NOTIMPL; }

STDMETHODIMP CCapiObject::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  if (sink) sink->AddRef();
  if (m_viewSink) m_viewSink->Release();
  m_viewSink = sink;
  m_viewAspects = aspects;
  m_viewFlags = flags;
  return S_OK;
}
STDMETHODIMP CCapiObject::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = m_viewAspects;
  if (flags) *flags = m_viewFlags;
  if (sink) {
    if (m_viewSink) m_viewSink->AddRef();
    *sink = m_viewSink;
  }
  return S_OK;
}
STDMETHODIMP CCapiObject::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}
STDMETHODIMP CCapiObject::GetRect(DWORD aspect, LPRECTL rect) {
  if (!rect) return E_POINTER;
  return aspect == DVASPECT_CONTENT ? E_NOTIMPL : DV_E_DVASPECT;
}
STDMETHODIMP CCapiObject::GetViewStatus(DWORD* status) {
  if (!status) return E_POINTER;
  *status = 0;  // transparent: the page shows through where nothing is drawn
  return S_OK;
}
STDMETHODIMP CCapiObject::QueryHitPoint(DWORD aspect, LPCRECT, POINT, LONG, DWORD* hit) {
  if (!hit) return E_POINTER;
  *hit = HITRESULT_OUTSIDE;  // nothing drawn, nothing to hit
  return aspect == DVASPECT_CONTENT ? S_OK : DV_E_DVASPECT;
}
STDMETHODIMP CCapiObject::QueryHitRect(DWORD aspect, LPCRECT, LPCRECT, LONG, DWORD* hit) {
  if (!hit) return E_POINTER;
  *hit = HITRESULT_OUTSIDE;
  return aspect == DVASPECT_CONTENT ? S_OK : DV_E_DVASPECT;
}
STDMETHODIMP CCapiObject::GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, LPSIZEL) {
  return E_NOTIMPL;
}

// --- in-place activation, windowless ------------------------------------------

STDMETHODIMP CCapiObject::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = nullptr;
  return E_FAIL;  // windowless
}
STDMETHODIMP CCapiObject::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP CCapiObject::InPlaceDeactivate() {
  if (!m_inPlaceActive) return S_OK;
  m_inPlaceActive = false;
  IOleInPlaceSite* site = nullptr;
  if (m_clientSite && SUCCEEDED(m_clientSite->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site)))) {
    site->OnInPlaceDeactivate();
    site->Release();
  }
  return S_OK;
}
STDMETHODIMP CCapiObject::UIDeactivate() { return S_OK; }
STDMETHODIMP CCapiObject::SetObjectRects(LPCRECT position, LPCRECT) { return position ? S_OK : E_POINTER; }
STDMETHODIMP CCapiObject::ReactivateAndUndo() { return E_NOTIMPL; }
STDMETHODIMP CCapiObject::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) {
  if (result) *result = 0;
  return S_FALSE;  // not handled: the control takes no input
}
STDMETHODIMP CCapiObject::GetDropTarget(IDropTarget** target) {
  if (target) *target = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP CCapiObject::TranslateAccelerator(LPMSG) { return S_FALSE; }
STDMETHODIMP CCapiObject::OnFrameWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP CCapiObject::OnDocWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP CCapiObject::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
STDMETHODIMP CCapiObject::EnableModeless(BOOL) { return S_OK; }

// --- IOleControl: no mnemonics, no ambient properties it uses ---------------------

STDMETHODIMP CCapiObject::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  if (info->cb < sizeof(CONTROLINFO)) return E_INVALIDARG;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}
STDMETHODIMP CCapiObject::OnMnemonic(MSG*) { return E_NOTIMPL; }
STDMETHODIMP CCapiObject::OnAmbientPropertyChange(DISPID) { return S_OK; }
STDMETHODIMP CCapiObject::FreezeEvents(BOOL) { return S_OK; }

// --- IOleObject -----------------------------------------------------------------

STDMETHODIMP CCapiObject::SetClientSite(IOleClientSite* site) {
  SetClientSiteOnly(site);
  m_siteLock.SetSite(site);
  return S_OK;
}
STDMETHODIMP CCapiObject::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  if (m_clientSite) m_clientSite->AddRef();
  *site = m_clientSite;
  return S_OK;
}
STDMETHODIMP CCapiObject::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }
STDMETHODIMP CCapiObject::Close(DWORD) {
  InPlaceDeactivate();
  if (m_adviseHolder) m_adviseHolder->SendOnClose();
  return S_OK;
}
STDMETHODIMP CCapiObject::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }
STDMETHODIMP CCapiObject::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP CCapiObject::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }
STDMETHODIMP CCapiObject::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP CCapiObject::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) {
  if (site && !m_clientSite) SetClientSite(site);
  switch (verb) {
    case OLEIVERB_HIDE:
    case OLEIVERB_DISCARDUNDOSTATE:
      return S_OK;
    case OLEIVERB_OPEN:
    case OLEIVERB_PROPERTIES:
      return E_NOTIMPL;
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
      break;
    default:
      if (verb < 0) return E_NOTIMPL;
      break;  // an unknown positive verb acts as the primary one
  }
  if (!m_inPlaceActive && m_clientSite) {
    // Windowless in-place activation, as the site allows it.
    IOleInPlaceSiteWindowless* windowless = nullptr;
    IOleInPlaceSite* inPlace = nullptr;
    if (SUCCEEDED(m_clientSite->QueryInterface(IID_IOleInPlaceSiteWindowless,
                                               reinterpret_cast<void**>(&windowless)))) {
      if (windowless->CanInPlaceActivate() == S_OK && windowless->CanWindowlessActivate() == S_OK) {
        BOOL noRedraw = FALSE;
        m_inPlaceActive = SUCCEEDED(windowless->OnInPlaceActivateEx(&noRedraw, ACTIVATE_WINDOWLESS));
      }
      windowless->Release();
    } else if (SUCCEEDED(m_clientSite->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace)))) {
      if (inPlace->CanInPlaceActivate() == S_OK) m_inPlaceActive = SUCCEEDED(inPlace->OnInPlaceActivate());
      inPlace->Release();
    }
  }
  return verb > 0 && verb != OLEIVERB_PRIMARY ? OLEOBJ_S_INVALIDVERB : S_OK;
}

STDMETHODIMP CCapiObject::EnumVerbs(IEnumOLEVERB** verbs) { return OleRegEnumVerbs(CLSID_CAPI, verbs); }
STDMETHODIMP CCapiObject::Update() { return S_OK; }
STDMETHODIMP CCapiObject::IsUpToDate() { return S_OK; }
STDMETHODIMP CCapiObject::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_CAPI;
  return S_OK;
}
STDMETHODIMP CCapiObject::GetUserType(DWORD form, LPOLESTR* type) { return OleRegGetUserType(CLSID_CAPI, form, type); }
STDMETHODIMP CCapiObject::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  m_extent = *size;
  return S_OK;
}
STDMETHODIMP CCapiObject::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = m_extent;
  return S_OK;
}
STDMETHODIMP CCapiObject::Advise(IAdviseSink* sink, DWORD* connection) {
  if (!m_adviseHolder) {
    HRESULT hr = CreateOleAdviseHolder(&m_adviseHolder);
    if (FAILED(hr)) return hr;
  }
  return m_adviseHolder->Advise(sink, connection);
}
STDMETHODIMP CCapiObject::Unadvise(DWORD connection) {
  return m_adviseHolder ? m_adviseHolder->Unadvise(connection) : OLE_E_NOCONNECTION;
}
STDMETHODIMP CCapiObject::EnumAdvise(IEnumSTATDATA** advise) {
  if (!advise) return E_POINTER;
  *advise = nullptr;
  return m_adviseHolder ? m_adviseHolder->EnumAdvise(advise) : E_FAIL;
}
STDMETHODIMP CCapiObject::GetMiscStatus(DWORD aspect, DWORD* status) {
  if (!status) return E_POINTER;
  *status = aspect == DVASPECT_CONTENT ? kMiscStatus : 0;
  return S_OK;
}
STDMETHODIMP CCapiObject::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// --- persistence: there is nothing to load or save ----------------------------

STDMETHODIMP CCapiObject::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_CAPI;
  return S_OK;
}
STDMETHODIMP CCapiObject::IsDirty() { return S_FALSE; }
STDMETHODIMP CCapiObject::Load(LPSTREAM stream) { return stream ? S_OK : E_POINTER; }
STDMETHODIMP CCapiObject::Save(LPSTREAM stream, BOOL) { return stream ? S_OK : E_POINTER; }
STDMETHODIMP CCapiObject::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = 0;
  return S_OK;
}
STDMETHODIMP CCapiObject::InitNew() { return S_OK; }
STDMETHODIMP CCapiObject::InitNew(IStorage* storage) { return storage ? S_OK : E_POINTER; }
STDMETHODIMP CCapiObject::Load(IStorage* storage) { return storage ? S_OK : E_POINTER; }
STDMETHODIMP CCapiObject::Save(IStorage* storage, BOOL) { return storage ? S_OK : E_POINTER; }
STDMETHODIMP CCapiObject::SaveCompleted(IStorage*) { return S_OK; }
STDMETHODIMP CCapiObject::HandsOffStorage() { return S_OK; }

// --- property pages and quick activation --------------------------------------

STDMETHODIMP CCapiObject::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

// A container's one-call activation: the client site comes this way instead
// of SetClientSite, so the site lock learns its page here too.
STDMETHODIMP CCapiObject::QuickActivate(QACONTAINER* container, QACONTROL* control) {
  if (!container || !control) return E_POINTER;
  if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL)) return E_INVALIDARG;
  SetClientSite(container->pClientSite);
  if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
  control->dwMiscStatus = kMiscStatus;
  control->dwViewStatus = 0;
  control->dwEventCookie = 0;
  control->dwPropNotifyCookie = 0;
  control->dwPointerActivationPolicy = 0;
  return S_OK;
}
STDMETHODIMP CCapiObject::SetContentExtent(LPSIZEL size) { return SetExtent(DVASPECT_CONTENT, size); }
STDMETHODIMP CCapiObject::GetContentExtent(LPSIZEL size) { return GetExtent(DVASPECT_CONTENT, size); }

// --- IDataObject: the control offers no data ---------------------------------

STDMETHODIMP CCapiObject::GetData(FORMATETC*, STGMEDIUM*) { return DV_E_FORMATETC; }
STDMETHODIMP CCapiObject::GetDataHere(FORMATETC*, STGMEDIUM*) { return DV_E_FORMATETC; }
STDMETHODIMP CCapiObject::QueryGetData(FORMATETC*) { return DV_E_FORMATETC; }
STDMETHODIMP CCapiObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
  if (out) out->ptd = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP CCapiObject::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }
STDMETHODIMP CCapiObject::EnumFormatEtc(DWORD, IEnumFORMATETC** formats) {
  if (formats) *formats = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP CCapiObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) { return OLE_E_ADVISENOTSUPPORTED; }
STDMETHODIMP CCapiObject::DUnadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }
STDMETHODIMP CCapiObject::EnumDAdvise(IEnumSTATDATA** advise) {
  if (advise) *advise = nullptr;
  return OLE_E_ADVISENOTSUPPORTED;
}

}  // namespace kv::com
