// The class factory of CAPI and DllGetClassObject / DllCanUnloadNow.
#include <windows.h>
#include <unknwn.h>

#include "api/win32/capi_object.h"
#include "api/win32/com_module.h"
#include "korvessa_idl.h"

namespace kv::com {
namespace {

// One factory per request; its life and its locks keep the module loaded.
class CCapiClassFactory final : public IClassFactory {
 public:
  CCapiClassFactory() { AddModuleReference(); }
  CCapiClassFactory(const CCapiClassFactory&) = delete;
  CCapiClassFactory& operator=(const CCapiClassFactory&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CCapiObject::Create(riid, object);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      AddModuleReference();
    else
      ReleaseModuleReference();
    return S_OK;
  }

 private:
  ~CCapiClassFactory() { ReleaseModuleReference(); }
  LONG m_refs = 1;
};

}  // namespace
}  // namespace kv::com

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_CAPI)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) kv::com::CCapiClassFactory();
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow(void) { return kv::com::ModuleInUse() ? S_FALSE : S_OK; }
