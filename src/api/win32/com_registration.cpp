// DllRegisterServer and DllUnregisterServer: the registration script
// (resource REGISTRY 103) applied under HKEY_CLASSES_ROOT, and the embedded
// type library registered or removed.
#include <windows.h>
#include <olectl.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "api/win32/com_module.h"
#include "korvessa_idl.h"

namespace kv::com {
namespace {

constexpr WORD kRegistrationScript = 103;

struct ScriptEntry {
  std::string verb;  // key, value, owned, progid
  std::wstring path;
  std::wstring valueName;
  std::wstring data;
  bool hasData = false;
};

std::wstring Widen(const std::string& text) {
  std::wstring out;
  for (unsigned char c : text) out.push_back(static_cast<wchar_t>(c));  // the script is ASCII
  return out;
}

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

void ReplaceAll(std::wstring* text, const std::wstring& from, const std::wstring& to) {
  for (size_t at = text->find(from); at != std::wstring::npos; at = text->find(from, at + to.size()))
    text->replace(at, from.size(), to);
}

// Reads one script line: verb, path, for "value" the name, then optionally
// = "data". Answers false for a line it cannot read.
bool ParseLine(const std::string& line, ScriptEntry* entry) {
  size_t pos = 0;
  auto word = [&]() {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    size_t start = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') ++pos;
    return line.substr(start, pos - start);
  };
  entry->verb = word();
  entry->path = Widen(word());
  if (entry->path.empty()) return false;
  if (entry->verb == "value") entry->valueName = Widen(word());
  std::string rest = word();
  if (rest.empty()) return entry->verb != "value";
  if (rest != "=") return false;
  size_t open = line.find('"', pos), close = line.rfind('"');
  if (open == std::string::npos || close <= open) return false;
  entry->data = Widen(line.substr(open + 1, close - open - 1));
  entry->hasData = true;
  return entry->verb == "key" || entry->verb == "value";
}

// The script with its markers replaced, or false when it cannot be read.
bool LoadScript(std::vector<ScriptEntry>* entries) {
  HMODULE module = ThisModule();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(kRegistrationScript), L"REGISTRY");
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (!bytes) return false;
  std::string text(bytes, SizeofResource(module, found));
  std::wstring modulePath = ThisModulePath();
  if (modulePath.empty()) return false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    ScriptEntry entry;
    if (!ParseLine(line, &entry)) return false;
    for (std::wstring* field : {&entry.path, &entry.data}) {
      ReplaceAll(field, L"%CLSID%", GuidText(CLSID_CAPI));
      ReplaceAll(field, L"%LIBID%", GuidText(LIBID_KORVESSALib));
      ReplaceAll(field, L"%MODULE%", modulePath);
    }
    entries->push_back(entry);
  }
  return true;
}

HRESULT DeleteTree(const std::wstring& path) {
  LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) {
    // RegDeleteTree empties the key; the key itself goes too.
    rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  }
  return HRESULT_FROM_WIN32(rc);
}

HRESULT WriteEntry(const ScriptEntry& entry) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, entry.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  if (entry.hasData) {
    const wchar_t* name = entry.verb == "value" ? entry.valueName.c_str() : nullptr;
    rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(entry.data.c_str()),
                        static_cast<DWORD>((entry.data.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(key);
  return HRESULT_FROM_WIN32(rc);
}

// Registering removes the owned keys first, then writes every key and value;
// unregistering removes the owned and ProgID keys.
HRESULT ApplyScript(bool registering) {
  std::vector<ScriptEntry> entries;
  if (!LoadScript(&entries)) return SELFREG_E_CLASS;
  HRESULT result = S_OK;
  for (const ScriptEntry& entry : entries) {
    if (entry.verb == "owned" || (!registering && entry.verb == "progid")) {
      HRESULT hr = DeleteTree(entry.path);
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
  }
  if (!registering || FAILED(result)) return result;
  for (const ScriptEntry& entry : entries) {
    if (entry.verb != "key" && entry.verb != "value") continue;
    HRESULT hr = WriteEntry(entry);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace
}  // namespace kv::com

STDAPI DllRegisterServer(void) {
  HRESULT hr = kv::com::ApplyScript(true);
  if (FAILED(hr)) return hr;
  ITypeLib* library = nullptr;
  hr = LoadTypeLibEx(kv::com::ThisModulePath().c_str(), REGKIND_REGISTER, &library);
  if (FAILED(hr)) return hr;
  library->Release();
  return S_OK;
}

STDAPI DllUnregisterServer(void) {
  HRESULT hr = kv::com::ApplyScript(false);
  ITypeLib* library = nullptr;
  HRESULT typeHr = LoadTypeLibEx(kv::com::ThisModulePath().c_str(), REGKIND_NONE, &library);
  if (SUCCEEDED(typeHr)) {
    TLIBATTR* attributes = nullptr;
    typeHr = library->GetLibAttr(&attributes);
    if (SUCCEEDED(typeHr)) {
      typeHr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                 attributes->lcid, attributes->syskind);
      // A library that was never registered has nothing to remove.
      if (typeHr == TYPE_E_REGISTRYACCESS || typeHr == TYPE_E_LIBNOTREGISTERED) typeHr = S_OK;
      library->ReleaseTLibAttr(attributes);
    }
    library->Release();
  }
  return FAILED(hr) ? hr : typeHr;
}
