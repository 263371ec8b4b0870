// Windows test host of the COM server, run under Wine after regsvr32:
//   com_host registered   <dll>  the registry entries, the object
//                         through its virtual table and IDispatch::Invoke, the
//                         safety options, DllCanUnloadNow, the site lock; puts
//                         a CA-issued signer "Korvessa COM Signer" into "MY"
//                         for the script test
//   com_host unregistered <dll>               what regsvr32 /u left behind
// One "ok"/"not ok" line per check; the exit code counts the failures.
#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <urlmon.h>
#include <wincrypt.h>

#include <cstdio>
#include <set>
#include <string>

#include "korvessa_idl.h"
#include "wine_signer.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what, long detail = 0) {
  if (ok)
    std::printf("ok - %s\n", what);
  else
    std::printf("not ok - %s (%ld / 0x%08lX)\n", what, detail, static_cast<unsigned long>(detail));
  if (!ok) ++g_failures;
  std::fflush(stdout);
}

std::wstring Take(BSTR text) {
  std::wstring out = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return out;
}

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// The default or named value of a key under HKEY_CLASSES_ROOT; "<none>" when absent.
std::wstring ClassesValue(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t data[1024] = {};
  DWORD size = sizeof(data);
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return L"<none>";
  return data;
}

bool ClassesKeyExists(const std::wstring& key) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

// Every key (as "path") and value (as "path : name") below a key of
// HKEY_CLASSES_ROOT, the key itself included; paths are relative to it.
void ListTree(HKEY key, const std::wstring& path, std::set<std::wstring>* out) {
  out->insert(path);
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    out->insert(path + L" : " + name);
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY child = nullptr;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    ListTree(child, path + L"\\" + name, out);
    RegCloseKey(child);
  }
}

std::set<std::wstring> ClassesTree(const std::wstring& root) {
  std::set<std::wstring> out;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, root.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  ListTree(key, root, &out);
  RegCloseKey(key);
  return out;
}

void CheckRegistration(const std::wstring& dll) {
  std::wstring clsid = L"CLSID\\" + GuidText(CLSID_CAPI);
  struct {
    std::wstring key;
    const wchar_t* name;
    std::wstring data;
  } expected[] = {
      {L"Korvessa.CAPI.1", nullptr, L"Korvessa Class"},
      {L"Korvessa.CAPI.1\\CLSID", nullptr, GuidText(CLSID_CAPI)},
      {L"Korvessa.CAPI", nullptr, L"Korvessa Class"},
      {L"Korvessa.CAPI\\CLSID", nullptr, GuidText(CLSID_CAPI)},
      {L"Korvessa.CAPI\\CurVer", nullptr, L"Korvessa.CAPI.1"},
      {clsid, nullptr, L"Korvessa Class"},
      {clsid + L"\\ProgID", nullptr, L"Korvessa.CAPI.1"},
      {clsid + L"\\VersionIndependentProgID", nullptr, L"Korvessa.CAPI"},
      {clsid + L"\\InprocServer32", nullptr, dll},
      {clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {clsid + L"\\ToolboxBitmap32", nullptr, dll + L", 102"},
      {clsid + L"\\MiscStatus", nullptr, L"0"},
      {clsid + L"\\MiscStatus\\1", nullptr, L"131473"},
      {clsid + L"\\TypeLib", nullptr, GuidText(LIBID_KORVESSALib)},
      {clsid + L"\\Version", nullptr, L"1.0"},
  };
  bool all = true;
  for (const auto& e : expected) {
    if (_wcsicmp(ClassesValue(e.key, e.name).c_str(), e.data.c_str()) != 0) {
      std::printf("# %ls: %ls\n", e.key.c_str(), ClassesValue(e.key, e.name).c_str());
      all = false;
    }
  }
  Check(all, "registration wrote every value of the script");

  // Nothing more than the script's entries under the three keys it owns:
  // every value above, the keys that hold them and the three empty ones.
  std::set<std::wstring> want;
  for (const auto& e : expected) {
    want.insert(e.key);
    want.insert(e.key + L" : " + (e.name ? e.name : L""));
  }
  for (const wchar_t* empty : {L"\\Programmable", L"\\Control", L"\\Insertable"}) want.insert(clsid + empty);
  std::set<std::wstring> got;
  for (const std::wstring& root : {std::wstring(L"Korvessa.CAPI.1"), std::wstring(L"Korvessa.CAPI"), clsid}) {
    std::set<std::wstring> tree = ClassesTree(root);
    got.insert(tree.begin(), tree.end());
  }
  for (const std::wstring& line : got)
    if (!want.count(line)) std::printf("# unexpected: %ls\n", line.c_str());
  for (const std::wstring& line : want)
    if (!got.count(line)) std::printf("# missing: %ls\n", line.c_str());
  Check(got == want, "registration wrote exactly the script's keys and values");
  Check(ClassesKeyExists(clsid + L"\\Programmable") && ClassesKeyExists(clsid + L"\\Control") &&
            ClassesKeyExists(clsid + L"\\Insertable"),
        "the empty Programmable, Control and Insertable keys");
  Check(ClassesKeyExists(L"TypeLib\\" + GuidText(LIBID_KORVESSALib) + L"\\1.0"), "type library registered");
  CLSID a{}, b{};
  Check(SUCCEEDED(CLSIDFromProgID(L"Korvessa.CAPI", &a)) && SUCCEEDED(CLSIDFromProgID(L"Korvessa.CAPI.1", &b)) &&
            IsEqualCLSID(a, CLSID_CAPI) && IsEqualCLSID(b, CLSID_CAPI),
        "both ProgIDs name the class");
}

LONG InvokeLong(IDispatch* d, DISPID id, HRESULT* hr) {
  DISPPARAMS none{};
  VARIANT result;
  VariantInit(&result);
  *hr = d->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
  LONG value = result.vt == VT_I4 ? result.lVal : -1;
  VariantClear(&result);
  return value;
}

void CheckVtableAndDispatch(ICAPI* capi) {
  LONG port = 0;
  Check(capi->GetPortEx(&port) == S_OK && port == 65537, "vtable: GetPortEx", port);
  BSTR text = SysAllocString(L"abc");
  BSTR digest = nullptr;
  Check(capi->Hash(text, 0x11, &digest) == S_OK && Take(digest) == L"900150983CD24FB0D6963F7D28E17F72",
        "vtable: Hash MD5 of abc");
  Check(SysStringLen(text) == 3 && text[0] == L'a', "vtable: the caller's argument is left as it was");
  SysFreeString(text);
  BSTR empty = nullptr;
  LONG code = 0;
  HRESULT hr = capi->RegReadHKCU(nullptr, &empty);
  capi->GetErrorCode(&code);
  Check(hr == S_OK && empty && SysStringLen(empty) == 0 && code == 5005, "vtable: a null BSTR reads as empty (5005)",
        code);
  SysFreeString(empty);
  Check(capi->GetPortEx(nullptr) == E_POINTER, "vtable: a null result pointer is refused, not written");

  IDispatch* d = capi;
  Check(InvokeLong(d, 77, &hr) == 65537 && hr == S_OK, "Invoke DISPID 77 answers 65537", hr);
  InvokeLong(d, 9, &hr);
  Check(hr == DISP_E_MEMBERNOTFOUND, "Invoke DISPID 9: DISP_E_MEMBERNOTFOUND", hr);
  LPOLESTR name = const_cast<LPOLESTR>(L"SignPkcs7");
  DISPID id = 0;
  Check(d->GetIDsOfNames(IID_NULL, &name, 1, 0, &id) == S_OK && id == 75, "GetIDsOfNames SignPkcs7 is 75", id);
  // Hash by DISPID with named-less positional arguments (reversed order).
  VARIANT args[2];
  args[1].vt = VT_BSTR;
  args[1].bstrVal = SysAllocString(L"abc");
  args[0].vt = VT_I4;
  args[0].lVal = 0x10;
  DISPPARAMS params{args, nullptr, 2, 0};
  VARIANT result;
  VariantInit(&result);
  hr = d->Invoke(30, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
  Check(hr == S_OK && result.vt == VT_BSTR &&
            std::wstring(result.bstrVal) == L"A9993E364706816ABA3E25717850C26C9CD0D89D",
        "Invoke DISPID 30 (Hash) converts its arguments", hr);
  VariantClear(&result);
  VariantClear(&args[1]);
  ITypeInfo* info = nullptr;
  UINT count = 0;
  Check(d->GetTypeInfoCount(&count) == S_OK && count == 1 && d->GetTypeInfo(0, 0, &info) == S_OK,
        "GetTypeInfo describes ICAPI");
  if (info) info->Release();
  IProvideClassInfo2* classInfo = nullptr;
  if (SUCCEEDED(capi->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo)))) {
    ITypeInfo* coclass = nullptr;
    TYPEATTR* attr = nullptr;
    bool ok = classInfo->GetClassInfo(&coclass) == S_OK && coclass->GetTypeAttr(&attr) == S_OK &&
              attr->typekind == TKIND_COCLASS && IsEqualGUID(attr->guid, CLSID_CAPI);
    if (attr) coclass->ReleaseTypeAttr(attr);
    if (coclass) coclass->Release();
    classInfo->Release();
    Check(ok, "IProvideClassInfo2 describes CAPI");
  } else {
    Check(false, "IProvideClassInfo2 answered");
  }
}

void CheckSafety(ICAPI* capi) {
  IObjectSafety* safety = nullptr;
  if (FAILED(capi->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)))) {
    Check(false, "IObjectSafety answered");
    return;
  }
  DWORD supported = 9, enabled = 9;
  HRESULT hr = safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
  Check(hr == S_OK && supported == 1 && enabled == 0, "safety: IDispatch before any setting: 1 and 0");
  Check(safety->SetInterfaceSafetyOptions(IID_IDispatch, 2, 2) == E_FAIL, "safety: IDispatch 2/2 is E_FAIL");
  safety->GetInterfaceSafetyOptions(IID_IPersistStreamInit, &supported, &enabled);
  Check(supported == 2 && enabled == 2, "safety: ...but its flag 2 was added");
  Check(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1) == S_OK, "safety: set IDispatch 1/1");
  safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
  Check(enabled == 1, "safety: IDispatch enabled afterwards", static_cast<long>(enabled));
  Check(safety->GetInterfaceSafetyOptions(IID_IPersistPropertyBag, &supported, &enabled) == E_NOINTERFACE,
        "safety: an interface the object lacks gives E_NOINTERFACE");
  Check(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0, 1) == E_FAIL, "safety: a zero mask is E_FAIL");
  Check(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled) == S_OK,
        "safety: a null output is success without writing");
  Check(safety->GetInterfaceSafetyOptions(IID_IOleObject, &supported, &enabled) == E_FAIL && supported == 0,
        "safety: any other interface: 0 and E_FAIL");
  safety->Release();
}

// A container's client site that names its document by a URL moniker.
class PageSite : public IOleClientSite {
 public:
  explicit PageSite(const wchar_t* url) : m_url(url) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
      *object = static_cast<IOleClientSite*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override { return --m_refs; }  // lives on the stack
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD which, IMoniker** moniker) override {
    if (which != OLEWHICHMK_CONTAINER || !m_url) return E_FAIL;
    return CreateURLMonikerEx(nullptr, m_url, moniker, URL_MK_UNIFORM);
  }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    *container = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

 private:
  const wchar_t* m_url;
  ULONG m_refs = 1;
};

ICAPI* NewObject() {
  ICAPI* capi = nullptr;
  CoCreateInstance(CLSID_CAPI, nullptr, CLSCTX_INPROC_SERVER, IID_ICAPI, reinterpret_cast<void**>(&capi));
  return capi;
}

// Hash through the object, and the code it leaves.
std::wstring HashOn(ICAPI* capi, LONG* code) {
  BSTR text = SysAllocString(L"abc");
  BSTR digest = nullptr;
  capi->Hash(text, 0x10, &digest);
  SysFreeString(text);
  capi->GetErrorCode(code);
  return Take(digest);
}

void PlaceInPage(ICAPI* capi, IOleClientSite* site) {
  IOleObject* ole = nullptr;
  if (SUCCEEDED(capi->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)))) {
    ole->SetClientSite(site);
    ole->Release();
  }
}

void SetRegistryText(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* text) {
  RegSetKeyValueW(root, key, name, REG_SZ, text, static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
}

void CheckSiteLock(HMODULE module) {
  const wchar_t* machineList = L"SOFTWARE\\Korvessa\\CAPI\\AllowedSites";
  SetRegistryText(HKEY_LOCAL_MACHINE, machineList, L"trade", L"https://trade.example.com.tw");
  SetRegistryText(HKEY_LOCAL_MACHINE, machineList, L"branches", L"https://*.branch.example.com.tw:8443");
  SetRegistryText(HKEY_CURRENT_USER, machineList, L"mine", L"https://user.example.org");

  struct Case {
    const wchar_t* url;
    bool allowed;
    const char* what;
  } cases[] = {
      {L"https://trade.example.com.tw/login?x=1", true, "site lock: a listed origin works"},
      {L"https://TRADE.example.com.tw:443/", true, "site lock: case and default port fold"},
      {L"https://a.branch.example.com.tw:8443/", true, "site lock: a listed subdomain pattern with its port"},
      {L"https://a.branch.example.com.tw/", false, "site lock: the pattern's port is part of it"},
      {L"http://trade.example.com.tw/", false, "site lock: http is not https"},
      {L"https://trade.example.com.tw.evil.net/", false, "site lock: a longer host is another host"},
      {L"https://evil.net/", false, "site lock: an unlisted page is refused"},
      {L"https://user.example.org/", false, "site lock: the user's list counts only when allowed"},
      {nullptr, true, "site lock: a client site that shows no page (a desktop container) is not locked"},
  };
  for (const Case& c : cases) {
    ICAPI* capi = NewObject();
    if (!capi) {
      Check(false, c.what);
      continue;
    }
    PageSite site(c.url);
    PlaceInPage(capi, &site);
    LONG code = -1;
    std::wstring digest = HashOn(capi, &code);
    if (c.allowed) {
      Check(digest == L"A9993E364706816ABA3E25717850C26C9CD0D89D" && code == 0, c.what, code);
    } else {
      BSTR message = nullptr;
      capi->GetErrorMsg(&message);
      std::wstring text = Take(message);
      Check(digest.empty() && code == 1502 && text.size() > 6 && text.substr(text.size() - 6) == L"(1502)", c.what,
            code);
    }
    PlaceInPage(capi, nullptr);
    capi->Release();
  }

  // A page removing the object (its site gone) does not free it.
  ICAPI* capi = NewObject();
  PageSite listed(L"https://trade.example.com.tw/");
  PlaceInPage(capi, &listed);
  LONG code = 0;
  HashOn(capi, &code);
  Check(code == 0, "site lock: listed page before removal", code);
  // A listed page may not write the lock's own settings through the object.
  BSTR name = SysAllocString(L"Software\\\\Korvessa\\CAPI\\AllowedSites\\evil");
  BSTR value = SysAllocString(L"https://evil.net");
  LONG rc = 0;
  capi->RegWriteHKCUStr(name, value, &rc);
  Check(rc == 1502, "site lock: a page cannot write the allow-list", rc);
  SysFreeString(name);
  SysFreeString(value);
  PlaceInPage(capi, nullptr);
  HashOn(capi, &code);
  Check(code == 1502, "site lock: an object that left its page stays locked", code);
  LONG port = 0;
  capi->GetPortEx(&port);
  Check(port == 0, "site lock: every operation refused, GetPortEx too", port);
  capi->Release();

  // A browser tells the object its page through IObjectWithSite; a page
  // refused there leaves the module's desktop exports answering.
  typedef BSTR(__stdcall * HashExport)(LPCWSTR, LONG);
  auto hashExport =
      reinterpret_cast<HashExport>(reinterpret_cast<void (*)()>(GetProcAddress(module, "_Hash@8")));
  struct {
    const wchar_t* url;
    LONG code;
    const char* what;
  } viaSite[] = {
      {L"https://trade.example.com.tw/order", 0, "site lock: a listed page told through IObjectWithSite works"},
      {L"https://evil.net/", 1502, "site lock: an unlisted page told through IObjectWithSite is refused"},
  };
  for (const auto& c : viaSite) {
    capi = NewObject();
    IObjectWithSite* withSite = nullptr;
    if (!capi || FAILED(capi->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)))) {
      Check(false, c.what);
      if (capi) capi->Release();
      continue;
    }
    PageSite page(c.url);
    withSite->SetSite(static_cast<IOleClientSite*>(&page));
    HashOn(capi, &code);
    Check(code == c.code, c.what, code);
    if (c.code != 0) {
      BSTR digest = hashExport ? hashExport(L"abc", 0x10) : nullptr;
      Check(Take(digest) == L"A9993E364706816ABA3E25717850C26C9CD0D89D",
            "site lock: the desktop exports answer while a refused object lives");
    }
    withSite->SetSite(nullptr);
    withSite->Release();
    capi->Release();
  }

  // The machine setting opens the user's list.
  DWORD one = 1;
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Korvessa\\CAPI", L"AllowUserSites", REG_DWORD, &one, sizeof(one));
  capi = NewObject();
  PageSite userListed(L"https://user.example.org/page");
  PlaceInPage(capi, &userListed);
  HashOn(capi, &code);
  Check(code == 0, "site lock: the user's list with AllowUserSites 1", code);
  PlaceInPage(capi, nullptr);
  capi->Release();
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Korvessa");
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Korvessa");

  // No site at all: the desktop program's own object.
  capi = NewObject();
  HashOn(capi, &code);
  Check(code == 0, "site lock: no site, no lock", code);
  capi->Release();
}

typedef HRESULT(STDAPICALLTYPE* CanUnloadFn)();

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::printf("usage: com_host registered|unregistered <dll>\n");
    return 2;
  }
  std::wstring mode = argv[1], dll = argv[2];
  CoInitialize(nullptr);
  if (mode == L"unregistered") {
    Check(!ClassesKeyExists(L"Korvessa.CAPI") && !ClassesKeyExists(L"Korvessa.CAPI.1"), "unregistered: ProgIDs gone");
    Check(!ClassesKeyExists(L"CLSID\\" + GuidText(CLSID_CAPI)), "unregistered: class key gone");
    Check(ClassesKeyExists(L"CLSID"), "unregistered: HKEY_CLASSES_ROOT\\CLSID stays");
    Check(!ClassesKeyExists(L"TypeLib\\" + GuidText(LIBID_KORVESSALib)), "unregistered: type library gone");
  } else {
    CheckRegistration(dll);
    HMODULE module = LoadLibraryW(dll.c_str());
    auto canUnload = module ? reinterpret_cast<CanUnloadFn>(reinterpret_cast<void (*)()>(
                                  GetProcAddress(module, "DllCanUnloadNow")))
                            : nullptr;
    ICAPI* capi = NewObject();
    Check(capi != nullptr, "CoCreateInstance of CAPI");
    if (capi) {
      Check(canUnload && canUnload() == S_FALSE, "DllCanUnloadNow is S_FALSE while an object lives");
      CheckVtableAndDispatch(capi);
      CheckSafety(capi);
      capi->Release();
      Check(canUnload && canUnload() == S_OK, "DllCanUnloadNow is S_OK once it is gone");
      CheckSiteLock(module);
    }
    // Issued by a CA, as a self-signed one is never a signer; the subject is
    // the bare common name the script's filter names, in ASCII since the
    // script host reads its arguments in the ANSI code page.
    Check(wine_test::AddSignerToMy(L"korvessa-com-signer", L"CN=Korvessa COM Signer", 0x55, nullptr),
          "a CA-issued signer with a Wine key in MY for the script", static_cast<long>(GetLastError()));
    if (module) FreeLibrary(module);
  }
  CoUninitialize();
  return g_failures;
}
