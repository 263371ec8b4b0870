// The registry calls of the stand-in (advapi32's Reg*A functions) over the
// hive storage: handle and argument checks, access rights, the ANSI/UTF-16
// conversions of names and string data, and the buffer rules of the query
// and enumeration calls. Like Windows, these calls report through their
// result and leave the thread's last error alone.
#include <windows.h>

#include <cstring>

#include "registry/hive.h"
#include "registry/key_handles.h"
#include "kvseam/ansi.h"
#include "registry/registry_text.h"

using namespace kv::platform::registry;

namespace {

// Keeps the caller's last error: the conversions below may set it.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(GetLastError()) {}
  ~LastErrorKeeper() { SetLastError(saved_); }

 private:
  DWORD saved_;
};

constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// What a handle names: a key of a hive, seen through an optional path below
// it (HKEY_CLASSES_ROOT is the user's Software\Classes).
struct KeyRef {
  HiveKind hive = HiveKind::User;
  int64_t key = kRootKey;
  REGSAM access = 0;
  std::vector<std::u16string> prefix;
  bool predefined = false;
};

bool SameHandle(HKEY a, HKEY b) { return a == b; }

LONG Resolve(HKEY handle, KeyRef* ref) {
  if (SameHandle(handle, HKEY_CURRENT_USER)) {
    ref->hive = HiveKind::User;
    ref->access = KEY_ALL_ACCESS;
    ref->predefined = true;
    return ERROR_SUCCESS;
  }
  if (SameHandle(handle, HKEY_LOCAL_MACHINE)) {
    ref->hive = HiveKind::Machine;
    ref->access = HiveWritable(HiveKind::Machine) ? KEY_ALL_ACCESS : KEY_READ;
    ref->predefined = true;
    return ERROR_SUCCESS;
  }
  if (SameHandle(handle, HKEY_CLASSES_ROOT)) {
    ref->hive = HiveKind::User;
    ref->access = KEY_ALL_ACCESS;
    ref->prefix = {u"Software", u"Classes"};
    ref->predefined = true;
    return ERROR_SUCCESS;
  }
  OpenKey open;
  if (!FindKeyHandle(handle, &open)) return ERROR_INVALID_HANDLE;
  if (open.identity != HiveIdentity(open.hive)) return ERROR_KEY_DELETED;
  ref->hive = open.hive;
  ref->key = open.key;
  ref->access = open.access;
  return ERROR_SUCCESS;
}

REGSAM MapGeneric(REGSAM sam) {
  if (sam & GENERIC_READ) sam |= KEY_READ;
  if (sam & GENERIC_WRITE) sam |= KEY_WRITE;
  if (sam & GENERIC_EXECUTE) sam |= KEY_EXECUTE;
  if (sam & GENERIC_ALL) sam |= KEY_ALL_ACCESS;
  return sam & ~static_cast<REGSAM>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | KEY_WOW64_RES);
}

// The rights a new handle receives, or ERROR_ACCESS_DENIED when the hive
// cannot grant them (a write right on the machine hive of a program).
LONG Grant(HiveKind hive, REGSAM requested, REGSAM* granted) {
  REGSAM sam = MapGeneric(requested);
  bool writable = HiveWritable(hive);
  if (sam & MAXIMUM_ALLOWED) {
    *granted = (writable ? KEY_ALL_ACCESS : KEY_READ) | (sam & ~static_cast<REGSAM>(MAXIMUM_ALLOWED));
    if (!writable) *granted &= ~kWriteRights;
    return ERROR_SUCCESS;
  }
  if ((sam & kWriteRights) && !writable) return ERROR_ACCESS_DENIED;
  *granted = sam;
  return ERROR_SUCCESS;
}

std::u16string WideName(LPCSTR name) { return kv::AnsiToUtf16(name); }

std::vector<std::u16string> Joined(const std::vector<std::u16string>& a, const std::vector<std::u16string>& b) {
  std::vector<std::u16string> all(a);
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

// The key a handle names inside its hive.
LONG BaseKey(sqlite3* db, const KeyRef& ref, bool create, int64_t* id) {
  if (ref.prefix.empty()) {
    if (!KeyExists(db, ref.key)) return ERROR_KEY_DELETED;
    *id = ref.key;
    return ERROR_SUCCESS;
  }
  if (create) {
    bool created = false;
    return CreateKeyPath(db, ref.key, ref.prefix, id, &created);
  }
  return FindKey(db, ref.key, ref.prefix, id);
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Stored string data is UTF-16LE; callers of the A calls see it in the ANSI
// code page.
std::vector<uint8_t> ToCallerForm(const StoredValue& value) {
  if (!IsStringType(value.type)) return value.data;
  std::u16string wide(value.data.size() / 2, u'\0');
  for (size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<char16_t>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
  std::string ansi = kv::Utf16ToAnsi(wide.data(), wide.size());
  return std::vector<uint8_t>(ansi.begin(), ansi.end());
}

std::vector<uint8_t> ToStoredForm(DWORD type, const BYTE* data, DWORD size) {
  if (!data || size == 0) return {};
  if (!IsStringType(type)) return std::vector<uint8_t>(data, data + size);
  std::u16string wide = kv::AnsiToUtf16(reinterpret_cast<const char*>(data), size);
  std::vector<uint8_t> out(wide.size() * 2);
  for (size_t i = 0; i < wide.size(); ++i) {
    out[2 * i] = static_cast<uint8_t>(wide[i] & 0xFF);
    out[2 * i + 1] = static_cast<uint8_t>(wide[i] >> 8);
  }
  return out;
}

// Copies value data into a caller's buffer with the rules of the query and
// enumeration calls: a size query without a buffer, ERROR_MORE_DATA with the
// needed size, and a terminator added after string data stored without one
// when the buffer has room for it.
LONG CopyData(DWORD type, const std::vector<uint8_t>& bytes, LPBYTE data, LPDWORD size) {
  DWORD needed = static_cast<DWORD>(bytes.size());
  if (!data) {
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }
  if (needed > *size) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed) std::memcpy(data, bytes.data(), needed);
  if (IsStringType(type) && needed && needed < *size && data[needed - 1]) data[needed] = 0;
  *size = needed;
  return ERROR_SUCCESS;
}

// Copies a name and its terminator; ERROR_MORE_DATA when it does not fit.
LONG CopyName(const std::u16string& name, LPSTR out, LPDWORD chars) {
  std::string ansi = kv::Utf16ToAnsi(name.data(), name.size());
  if (ansi.size() >= *chars) return ERROR_MORE_DATA;
  std::memcpy(out, ansi.data(), ansi.size());
  out[ansi.size()] = '\0';
  *chars = static_cast<DWORD>(ansi.size());
  return ERROR_SUCCESS;
}

bool ComponentsFit(const std::vector<std::u16string>& parts) {
  for (const auto& p : parts)
    if (p.size() > kMaxKeyNameLength) return false;
  return true;
}

}  // namespace

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  LastErrorKeeper keep;
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  KeyRef ref;
  LONG rc = Resolve(hKey, &ref);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<std::u16string> parts;
  if (!SplitKeyPath(WideName(lpSubKey), &parts) || !ComponentsFit(parts)) return ERROR_FILE_NOT_FOUND;
  int64_t id = 0;
  rc = HiveRead(ref.hive, [&](sqlite3* db) { return FindKey(db, ref.key, Joined(ref.prefix, parts), &id); });
  if (rc != ERROR_SUCCESS) return rc;
  REGSAM granted = 0;
  rc = Grant(ref.hive, samDesired, &granted);
  if (rc != ERROR_SUCCESS) return rc;
  *phkResult = AddKeyHandle({ref.hive, id, granted, HiveIdentity(ref.hive)});
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  LastErrorKeeper keep;
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  if (!lpSubKey || !*lpSubKey) {
    // An empty name gives back the caller's own handle.
    KeyRef ref;
    LONG rc = Resolve(hKey, &ref);
    if (rc != ERROR_SUCCESS) return rc;
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  return RegOpenKeyExA(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
}

extern "C" LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                                          const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  LastErrorKeeper keep;
  if (!phkResult) return ERROR_BADKEY;
  *phkResult = nullptr;
  KeyRef ref;
  LONG rc = Resolve(hKey, &ref);
  if (rc != ERROR_SUCCESS) return rc;
  std::u16string path = WideName(lpSubKey);
  std::vector<std::u16string> parts;
  if ((!path.empty() && path[0] == u'\\') || !SplitKeyPath(path, &parts)) return ERROR_BAD_PATHNAME;
  if (!ComponentsFit(parts)) return ERROR_INVALID_PARAMETER;
  std::vector<std::u16string> all = Joined(ref.prefix, parts);
  int64_t id = 0;
  bool created = false;
  if (HiveWritable(ref.hive)) {
    rc = HiveWrite(ref.hive, [&](sqlite3* db) { return CreateKeyPath(db, ref.key, all, &id, &created); });
  } else {
    // A program may open what exists in the machine hive, but not add to it.
    rc = HiveRead(ref.hive, [&](sqlite3* db) { return FindKey(db, ref.key, all, &id); });
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_ACCESS_DENIED;
  }
  if (rc != ERROR_SUCCESS) return rc;
  REGSAM granted = 0;
  rc = Grant(ref.hive, samDesired, &granted);
  if (rc != ERROR_SUCCESS) return rc;
  *phkResult = AddKeyHandle({ref.hive, id, granted, HiveIdentity(ref.hive)});
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED, nullptr, phkResult,
                         nullptr);
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                           LPBYTE lpData, LPDWORD lpcbData) {
  LastErrorKeeper keep;
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG rc = Resolve(hKey, &ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  std::u16string name = WideName(lpValueName);
  StoredValue value;
  rc = HiveRead(ref.hive, [&](sqlite3* db) {
    int64_t id = 0;
    LONG r = BaseKey(db, ref, false, &id);
    return r == ERROR_SUCCESS ? GetValue(db, id, name, &value) : r;
  });
  if (rc != ERROR_SUCCESS) return rc;
  if (lpType) *lpType = value.type;
  return CopyData(value.type, ToCallerForm(value), lpData, lpcbData);
}

extern "C" LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                         DWORD cbData) {
  LastErrorKeeper keep;
  KeyRef ref;
  LONG rc = Resolve(hKey, &ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!lpData && cbData) return ERROR_NOACCESS;
  // As Windows does, string data whose size leaves out a terminator that is
  // there in memory is stored with it. Callers on Windows live with the same
  // look at the byte after their data.
  if (cbData && IsStringType(dwType) && lpData[cbData - 1] && !lpData[cbData]) ++cbData;
  std::u16string name = WideName(lpValueName);
  if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> stored = ToStoredForm(dwType, lpData, cbData);
  return HiveWrite(ref.hive, [&](sqlite3* db) {
    int64_t id = 0;
    LONG r = BaseKey(db, ref, true, &id);
    return r == ERROR_SUCCESS ? PutValue(db, id, name, dwType, stored.data(), stored.size()) : r;
  });
}

extern "C" LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  LastErrorKeeper keep;
  KeyRef ref;
  LONG rc = Resolve(hKey, &ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  std::u16string name = WideName(lpValueName);
  return HiveWrite(ref.hive, [&](sqlite3* db) {
    int64_t id = 0;
    LONG r = BaseKey(db, ref, false, &id);
    return r == ERROR_SUCCESS ? RemoveValue(db, id, name) : r;
  });
}

extern "C" LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  LastErrorKeeper keep;
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG rc = Resolve(hKey, &ref);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<std::u16string> parts;
  if (!SplitKeyPath(WideName(lpSubKey), &parts) || !ComponentsFit(parts)) return ERROR_FILE_NOT_FOUND;
  // A root key (a predefined handle itself) is never deleted.
  if (parts.empty() && ref.predefined) return ERROR_ACCESS_DENIED;
  std::vector<std::u16string> all = Joined(ref.prefix, parts);
  int64_t id = 0;
  rc = HiveRead(ref.hive, [&](sqlite3* db) { return FindKey(db, ref.key, all, &id); });
  if (rc != ERROR_SUCCESS) return rc;
  if (!HiveWritable(ref.hive)) return ERROR_ACCESS_DENIED;
  return HiveWrite(ref.hive, [&](sqlite3* db) {
    LONG r = FindKey(db, ref.key, all, &id);
    return r == ERROR_SUCCESS ? RemoveKey(db, id) : r;
  });
}

extern "C" LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                        LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                        PFILETIME lpftLastWriteTime) {
  LastErrorKeeper keep;
  if (!lpName || !lpcchName || lpReserved) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG rc = Resolve(hKey, &ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(ref.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  std::u16string name;
  int64_t written = 0;
  rc = HiveRead(ref.hive, [&](sqlite3* db) {
    int64_t id = 0;
    LONG r = BaseKey(db, ref, false, &id);
    if (r == ERROR_FILE_NOT_FOUND) return static_cast<LONG>(ERROR_NO_MORE_ITEMS);
    return r == ERROR_SUCCESS ? SubkeyAt(db, id, dwIndex, &name, &written) : r;
  });
  if (rc != ERROR_SUCCESS) return rc;
  if (lpClass && lpcchClass && *lpcchClass == 0) return ERROR_MORE_DATA;
  rc = CopyName(name, lpName, lpcchName);
  if (rc != ERROR_SUCCESS) return rc;
  if (lpClass) {
    lpClass[0] = '\0';
    if (lpcchClass) *lpcchClass = 0;
  }
  if (lpftLastWriteTime) {
    lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(written & 0xFFFFFFFF);
    lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(written) >> 32);
  }
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
  DWORD chars = cchName;
  return RegEnumKeyExA(hKey, dwIndex, lpName, &chars, nullptr, nullptr, nullptr, nullptr);
}

extern "C" LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                                        LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  LastErrorKeeper keep;
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG rc = Resolve(hKey, &ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  StoredValue value;
  rc = HiveRead(ref.hive, [&](sqlite3* db) {
    int64_t id = 0;
    LONG r = BaseKey(db, ref, false, &id);
    if (r == ERROR_FILE_NOT_FOUND) return static_cast<LONG>(ERROR_NO_MORE_ITEMS);
    return r == ERROR_SUCCESS ? ValueAt(db, id, dwIndex, &value) : r;
  });
  if (rc != ERROR_SUCCESS) return rc;
  rc = CopyName(value.name, lpValueName, lpcchValueName);
  if (rc != ERROR_SUCCESS) return rc;
  if (lpType) *lpType = value.type;
  return CopyData(value.type, ToCallerForm(value), lpData, lpcbData);
}

extern "C" LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                           LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                           LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                           LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  LastErrorKeeper keep;
  if (lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG rc = Resolve(hKey, &ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  KeyFacts facts;
  rc = HiveRead(ref.hive, [&](sqlite3* db) {
    int64_t id = 0;
    LONG r = BaseKey(db, ref, false, &id);
    if (r == ERROR_FILE_NOT_FOUND) return static_cast<LONG>(ERROR_SUCCESS);  // an empty classes root
    return r == ERROR_SUCCESS ? DescribeKey(db, id, &facts) : r;
  });
  if (rc != ERROR_SUCCESS) return rc;
  if (lpClass) {
    rc = CopyName(facts.className, lpClass, lpcchClass);
    if (rc != ERROR_SUCCESS) return rc;
  } else if (lpcchClass) {
    *lpcchClass = static_cast<DWORD>(facts.className.size());
  }
  if (lpcSubKeys) *lpcSubKeys = facts.subkeys;
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = static_cast<DWORD>(facts.maxSubkeyName);
  if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
  if (lpcValues) *lpcValues = facts.values;
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = static_cast<DWORD>(facts.maxValueName);
  if (lpcbMaxValueLen) *lpcbMaxValueLen = static_cast<DWORD>(facts.maxValueData);
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime) {
    lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(facts.written & 0xFFFFFFFF);
    lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(facts.written) >> 32);
  }
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegFlushKey(HKEY hKey) {
  // Every change is committed when its call returns.
  LastErrorKeeper keep;
  KeyRef ref;
  return Resolve(hKey, &ref);
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  LastErrorKeeper keep;
  if (SameHandle(hKey, HKEY_CURRENT_USER) || SameHandle(hKey, HKEY_LOCAL_MACHINE) ||
      SameHandle(hKey, HKEY_CLASSES_ROOT))
    return ERROR_SUCCESS;
  return RemoveKeyHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
