// RegReadHKCU, RegReadHKLM, RegWriteHKCUInt and RegWriteHKCUStr: small
// settings a page keeps in the registry, named by one text that holds the key
// path and, after its last backslash, the value name.
#include <windows.h>

#include <cstring>
#include <string>

#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "host/allowed_sites.h"
#include "host/caller_origin.h"

namespace {

// Largest REG_SZ value the read operations return, in bytes with its
// terminator.
constexpr DWORD kReadBufferSize = 255;

struct ValueName {
  std::string keyPath;
  std::string valueName;
};

// Checks shared by the four operations, in their order: a name with a
// backslash, then the protected-mode refusal.
ErrorCode SplitValueName(CCapiEngine& engine, const std::string& name, ValueName* out) {
  if (name.empty()) return ERR_BAD_PARAM;
  size_t slash = kv::FindLastBackslash(name);
  if (slash == std::string::npos) return ERR_BAD_PARAM;
  if (engine.RefuseInProtectedMode()) return ERR_IE_PROTECTED_MODE;
  out->keyPath = name.substr(0, slash);
  out->valueName = name.substr(slash + 1);
  return ERR_SUCCESS;
}

// A query that fails for another reason than a missing or too long value
// (the registry's storage is damaged or unreadable) is a failure to read.
bool Unreadable(LONG rc) { return rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && rc != ERROR_MORE_DATA; }

// The value as text; false when the registry could not be read.
bool ReadValueText(HKEY key, const std::string& valueName, std::string* text) {
  text->clear();
  DWORD type = REG_NONE;
  LONG rc = RegQueryValueExA(key, valueName.c_str(), nullptr, &type, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return !Unreadable(rc);
  if (type == REG_SZ) {
    // One byte beyond what the query may fill keeps a value stored without
    // its terminator from running past the buffer.
    char buffer[kReadBufferSize + 1] = {};
    DWORD size = kReadBufferSize;
    rc = RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
    if (rc != ERROR_SUCCESS) return !Unreadable(rc);
    size_t length = 0;
    while (length < size && buffer[length]) ++length;
    text->assign(buffer, length);
    return true;
  }
  if (type == REG_DWORD) {
    DWORD number = 0;
    DWORD size = sizeof number;
    rc = RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(&number), &size);
    if (rc != ERROR_SUCCESS) return !Unreadable(rc);
    *text = std::to_string(static_cast<LONG>(number));
  }
  return true;
}

BSTR ReadRegistryText(CCapiEngine& engine, HKEY root, BSTR strName) {
  engine.ResetError();
  ValueName name;
  ErrorCode code = SplitValueName(engine, kv::TakeNarrow(strName), &name);
  if (code != ERR_SUCCESS) {
    engine.Fail(code);
    return kv::NarrowToBstr("");
  }
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, name.keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    engine.Fail(ERR_ACCESS_DENIED);
    return kv::NarrowToBstr("");
  }
  std::string text;
  if (!ReadValueText(key, name.valueName, &text)) engine.Fail(ERR_ACCESS_DENIED);
  RegCloseKey(key);
  return kv::NarrowToBstr(text);
}

LONG WriteRegistryValue(CCapiEngine& engine, BSTR strName, DWORD type, const BYTE* data, DWORD size) {
  engine.ResetError();
  // A web page must not add itself (or another site) to the allow-list.
  if (!kv::CallerOrigin().empty() && kv::NamesSiteLockSettings(strName)) {
    kv::TakeNarrow(strName);
    engine.Fail(ERR_SITE_NOT_ALLOWED);
    return ERR_SITE_NOT_ALLOWED;
  }
  ValueName name;
  ErrorCode code = SplitValueName(engine, kv::TakeNarrow(strName), &name);
  if (code != ERR_SUCCESS) {
    engine.Fail(code);
    return code;
  }
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_CURRENT_USER, name.keyPath.c_str(), &key) != ERROR_SUCCESS) {
    engine.Fail(ERR_ACCESS_DENIED);
    return ERR_ACCESS_DENIED;
  }
  if (RegSetValueExA(key, name.valueName.c_str(), 0, type, data, size) != ERROR_SUCCESS)
    engine.Fail(ERR_ACCESS_DENIED);
  RegCloseKey(key);
  return engine.Code();
}

}  // namespace

BSTR CCapiEngine::RegReadHKCU(BSTR strName) { return ReadRegistryText(*this, HKEY_CURRENT_USER, strName); }

BSTR CCapiEngine::RegReadHKLM(BSTR strName) { return ReadRegistryText(*this, HKEY_LOCAL_MACHINE, strName); }

LONG CCapiEngine::RegWriteHKCUInt(BSTR strName, LONG dw) {
  DWORD number = static_cast<DWORD>(dw);
  return WriteRegistryValue(*this, strName, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

LONG CCapiEngine::RegWriteHKCUStr(BSTR strName, BSTR str) {
  // Both arguments are converted, and so freed, before any check can return.
  std::string text = kv::TakeNarrow(str);
  return WriteRegistryValue(*this, strName, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                            static_cast<DWORD>(text.size()));
}
