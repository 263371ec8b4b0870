// The shared key/value area: creation, bounds-checked walks, and the keyed
// operations with their Windows error numbers.
#include "sign/shared_memory.h"

#include <cstdio>
#include <cstring>

namespace {

DWORD LoadDword(const BYTE* p) {
  return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
}

void StoreDword(BYTE* p, DWORD v) {
  p[0] = BYTE(v);
  p[1] = BYTE(v >> 8);
  p[2] = BYTE(v >> 16);
  p[3] = BYTE(v >> 24);
}

constexpr DWORD kErrorKeyTooLong = 1743;

}  // namespace

void cSharedMemory::BuildSecurity(SECURITY_ATTRIBUTES* sa, SECURITY_DESCRIPTOR* sd, PACL* acl) {
  *acl = nullptr;
  if (!InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION)) {
    std::printf("InitializeSecurityDescriptor() failed with error %d\n", static_cast<int>(GetLastError()));
    return;
  }
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
    std::printf("AllocateAndInitializeSid() failed with error %d\n", static_cast<int>(GetLastError()));
    return;
  }
  DWORD aclSize = GetLengthSid(everyone) + 16;
  PACL list = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, aclSize));
  bool ok = false;
  if (!list) {
    std::printf("HeapAlloc() failed with error %d\n", static_cast<int>(GetLastError()));
  } else if (!InitializeAcl(list, aclSize, ACL_REVISION)) {
    std::printf("InitializeAcl() failed with error %d\n", static_cast<int>(GetLastError()));
  } else if (!AddAccessAllowedAce(list, ACL_REVISION, GENERIC_ALL, everyone)) {
    std::printf("AddAccessAllowedAce() failed with error %d\n", static_cast<int>(GetLastError()));
  } else if (!SetSecurityDescriptorDacl(sd, TRUE, list, FALSE)) {
    std::printf("SetSecurityDescriptorDacl() failed with error %d\n", static_cast<int>(GetLastError()));
  } else {
    ok = true;
  }
  FreeSid(everyone);
  if (!ok) {
    if (list) HeapFree(GetProcessHeap(), 0, list);
    return;
  }
  *acl = list;
  sa->nLength = sizeof(SECURITY_ATTRIBUTES);
  sa->lpSecurityDescriptor = sd;
  sa->bInheritHandle = FALSE;
}

cSharedMemory::cSharedMemory(const std::string& name, DWORD size) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  SECURITY_ATTRIBUTES sa = {};
  SECURITY_DESCRIPTOR sd = {};
  PACL acl = nullptr;
  bool secured = false;
  if (GetVersionExA(&version) && version.dwMajorVersion >= 3 &&
      (version.dwMinorVersion == 0 || version.dwMinorVersion == 1 || version.dwMinorVersion == 51)) {
    BuildSecurity(&sa, &sd, &acl);
    secured = acl != nullptr;
  }
  m_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, secured ? &sa : nullptr, PAGE_READWRITE, 0, size,
                                 name.c_str());
  DWORD error = GetLastError();
  if (acl) HeapFree(GetProcessHeap(), 0, acl);
  if (!m_mapping) {
    Fail(error);
    return;
  }
  m_created = error != ERROR_ALREADY_EXISTS;
  m_view = static_cast<BYTE*>(MapViewOfFile(m_mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  if (!m_view) {
    Fail(GetLastError());
    return;
  }
  m_writerLock = CreateMutexA(nullptr, FALSE, (name + "_Lock").c_str());
  if (m_created) {
    std::memset(m_view, 0, size);
    StoreDword(m_view + 4, size);
    m_areaSize = size;
  } else {
    // The header's size is another process's word: never beyond our mapping.
    m_areaSize = LoadDword(m_view + 4);
    if (m_areaSize > size || m_areaSize < kHeaderSize) m_areaSize = size;
  }
  m_name = name;
  m_ready = true;
  m_lastError = 0;
}

cSharedMemory::~cSharedMemory() {
  if (m_view) UnmapViewOfFile(m_view);
  if (m_mapping) CloseHandle(m_mapping);
  if (m_writerLock) CloseHandle(m_writerLock);
}

BYTE cSharedMemory::Fail(DWORD error) {
  m_lastError = error;
  SetLastError(error);
  return 0;
}

bool cSharedMemory::KeyToWide(const std::string& key, std::u16string* wide) {
  wide->clear();
  if (key.empty()) return true;
  int n = MultiByteToWideChar(CP_ACP, 0, key.data(), static_cast<int>(key.size()), nullptr, 0);
  if (n <= 0) return false;
  wide->resize(static_cast<size_t>(n));
  return MultiByteToWideChar(CP_ACP, 0, key.data(), static_cast<int>(key.size()),
                             reinterpret_cast<LPWSTR>(&(*wide)[0]), n) == n;
}

bool cSharedMemory::Walk(const std::u16string* key, Entry* found, DWORD* end) const {
  const DWORD count = LoadDword(m_view);
  DWORD offset = kHeaderSize;
  if (found) *found = Entry{0, 0};
  bool hit = false;
  for (DWORD i = 0; i < count; ++i) {
    if (offset > m_areaSize || m_areaSize - offset < kEntryHeaderSize) return false;
    const DWORD length = LoadDword(m_view + offset + kKeyBytes);
    if (length > m_areaSize - offset - kEntryHeaderSize) return false;
    if (key && !hit) {
      // Keys compare code unit by code unit, up to the zero padding.
      const BYTE* stored = m_view + offset;
      size_t units = 0;
      while (units < kKeyBytes / 2 && (stored[2 * units] | stored[2 * units + 1])) ++units;
      bool equal = units == key->size();
      for (size_t u = 0; equal && u < units; ++u)
        equal = char16_t(stored[2 * u] | (stored[2 * u + 1] << 8)) == (*key)[u];
      if (equal) {
        hit = true;
        if (found) *found = Entry{offset, length};
      }
    }
    offset += kEntryHeaderSize + length;
  }
  if (end) *end = offset;
  return true;
}

BYTE cSharedMemory::Exists(const std::string& key) {
  if (!m_ready) return Fail(ERROR_OBJECT_NOT_FOUND);
  std::u16string wide;
  if (!KeyToWide(key, &wide)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  Lock lock(m_writerLock);
  Entry entry;
  m_lastError = 0;
  return Walk(&wide, &entry, nullptr) && entry.offset != 0 ? 1 : 0;
}

BYTE cSharedMemory::Add(const std::string& key, const void* data, DWORD length) {
  if (!m_ready) return Fail(ERROR_OBJECT_NOT_FOUND);
  if (length == 0) return Fail(ERROR_BAD_LENGTH);
  if (key.size() + 1 > kMaxKeyChars + 1) return Fail(kErrorKeyTooLong);
  std::u16string wide;
  if (!KeyToWide(key, &wide)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (!data) return Fail(ERROR_INVALID_PARAMETER);
  {
    Lock lock(m_writerLock);
    if (LoadDword(m_view) == 0) std::memset(m_view + kHeaderSize, 0, m_areaSize - kHeaderSize);
    Entry entry;
    DWORD end = 0;
    if (!Walk(&wide, &entry, &end)) return Fail(ERROR_INVALID_DATA);
    if (entry.offset != 0) return Fail(ERROR_ALREADY_EXISTS);
    if (uint64_t(end) + kEntryHeaderSize + length > m_areaSize) return Fail(ERROR_OUTOFMEMORY);
    BYTE* p = m_view + end;
    std::memset(p, 0, kKeyBytes);
    for (size_t u = 0; u < wide.size(); ++u) {
      p[2 * u] = BYTE(wide[u]);
      p[2 * u + 1] = BYTE(wide[u] >> 8);
    }
    StoreDword(p + kKeyBytes, length);
    std::memcpy(p + kEntryHeaderSize, data, length);
    StoreDword(m_view, LoadDword(m_view) + 1);
  }
  Signal(m_name + "_Event");
  m_lastError = 0;
  return 1;
}

BYTE cSharedMemory::Update(const std::string& key, const void* data, DWORD length) {
  if (!m_ready) return Fail(ERROR_OBJECT_NOT_FOUND);
  if (length == 0) return Fail(ERROR_BAD_LENGTH);
  std::u16string wide;
  if (!KeyToWide(key, &wide)) return Fail(ERROR_FILE_NOT_FOUND);
  if (!data) return Fail(ERROR_INVALID_PARAMETER);
  {
    Lock lock(m_writerLock);
    Entry entry;
    if (!Walk(&wide, &entry, nullptr) || entry.offset == 0) return Fail(ERROR_FILE_NOT_FOUND);
    if (length > entry.valueLength) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    // The entry keeps the size it was added with; a shorter value reads back
    // zero-padded to it.
    BYTE* value = m_view + entry.offset + kEntryHeaderSize;
    std::memset(value, 0, entry.valueLength);
    std::memcpy(value, data, length);
  }
  Signal(key + "_Event");
  m_lastError = 0;
  return 1;
}

BYTE cSharedMemory::Read(const std::string& key, void* buffer, DWORD* inOutLength) {
  if (!m_ready) return Fail(ERROR_OBJECT_NOT_FOUND);
  if (!inOutLength) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string wide;
  if (!KeyToWide(key, &wide)) return Fail(ERROR_FILE_NOT_FOUND);
  Lock lock(m_writerLock);
  Entry entry;
  if (!Walk(&wide, &entry, nullptr) || entry.offset == 0) return Fail(ERROR_FILE_NOT_FOUND);
  if (!buffer) {
    *inOutLength = entry.valueLength;
    m_lastError = 0;
    return 1;
  }
  if (*inOutLength < entry.valueLength) {
    *inOutLength = entry.valueLength;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, m_view + entry.offset + kEntryHeaderSize, entry.valueLength);
  *inOutLength = entry.valueLength;
  m_lastError = 0;
  return 1;
}

int32_t cSharedMemory::ReadInt(const std::string& key, int32_t defaultValue) {
  BYTE bytes[4];
  DWORD length = sizeof bytes;
  if (!Read(key, bytes, &length) || length != sizeof bytes) return defaultValue;
  return static_cast<int32_t>(LoadDword(bytes));
}

BYTE cSharedMemory::Remove(const std::string& key) {
  if (!m_ready) return Fail(ERROR_OBJECT_NOT_FOUND);
  std::u16string wide;
  if (!KeyToWide(key, &wide)) return Fail(ERROR_FILE_NOT_FOUND);
  {
    Lock lock(m_writerLock);
    if (LoadDword(m_view) == 0) return Fail(ERROR_FILE_NOT_FOUND);
    Entry entry;
    DWORD end = 0;
    if (!Walk(&wide, &entry, &end) || entry.offset == 0) return Fail(ERROR_FILE_NOT_FOUND);
    const DWORD removed = kEntryHeaderSize + entry.valueLength;
    const DWORD next = entry.offset + removed;
    std::memmove(m_view + entry.offset, m_view + next, end - next);
    std::memset(m_view + end - removed, 0, removed);
    StoreDword(m_view, LoadDword(m_view) - 1);
  }
  Signal(m_name + "_Event");
  Signal(key + "_Event");
  m_lastError = 0;
  return 1;
}

void cSharedMemory::Signal(const std::string& eventName) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
  if (!event) return;
  SetEvent(event);
  CloseHandle(event);
}
