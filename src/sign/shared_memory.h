// cSharedMemory: a key/value store in a named file mapping shared by every
// process of the user, with a change event per key. Area layout (little
// endian, packed): entry count (4), area size (4), then the entries back to
// back, each an 80-byte zero-padded UTF-16LE key, a 4-byte value length and
// the value; every byte after the last entry is zero.
//
// The area is written by other processes, so every walk checks each count and
// length against the area: a walk that would leave it marks the area corrupt,
// readers then find nothing and writers fail, and nothing reads out of bounds.
// Writers of all processes are serialised by a named mutex beside the area.
#pragma once

#include <windows.h>

#include <string>

class cSharedMemory {
 public:
  cSharedMemory(const std::string& name, DWORD size);
  virtual ~cSharedMemory();
  cSharedMemory(const cSharedMemory&) = delete;
  cSharedMemory& operator=(const cSharedMemory&) = delete;

  // 1 for success, 0 for failure with the reason in LastError() (also set
  // as the thread's last error).
  BYTE Exists(const std::string& key);
  BYTE Add(const std::string& key, const void* data, DWORD length);
  BYTE AddInt(const std::string& key, int32_t value) { return Add(key, &value, sizeof value); }
  BYTE Update(const std::string& key, const void* data, DWORD length);
  BYTE UpdateInt(const std::string& key, int32_t value) { return Update(key, &value, sizeof value); }
  BYTE Read(const std::string& key, void* buffer, DWORD* inOutLength);
  int32_t ReadInt(const std::string& key, int32_t defaultValue);
  BYTE Remove(const std::string& key);

  DWORD LastError() const { return m_lastError; }
  bool IsReady() const { return m_ready; }
  bool Created() const { return m_created; }
  const BYTE* View() const { return m_view; }
  DWORD AreaSize() const { return m_areaSize; }

  static constexpr DWORD kHeaderSize = 8;
  static constexpr DWORD kKeyBytes = 80;
  static constexpr DWORD kEntryHeaderSize = 84;
  static constexpr size_t kMaxKeyChars = 39;

 private:
  struct Entry {
    DWORD offset = 0;       // of the entry header
    DWORD valueLength = 0;  // stored length
  };
  // Walks the entries: `found` gets the entry with `key` (if given), `end`
  // the offset after the last entry. False when the area is corrupt.
  bool Walk(const std::u16string* key, Entry* found, DWORD* end) const;
  BYTE Fail(DWORD error);
  bool KeyToWide(const std::string& key, std::u16string* wide);
  void Signal(const std::string& eventName);
  void BuildSecurity(SECURITY_ATTRIBUTES* sa, SECURITY_DESCRIPTOR* sd, PACL* acl);

  // Holds the area's writer lock for one operation.
  class Lock {
   public:
    explicit Lock(HANDLE mutex) : m_mutex(mutex) {
      if (m_mutex) WaitForSingleObject(m_mutex, 5000);
    }
    ~Lock() {
      if (m_mutex) ReleaseMutex(m_mutex);
    }
   private:
    HANDLE m_mutex;
  };

  std::string m_name;
  DWORD m_lastError = 0;
  bool m_created = false;
  bool m_ready = false;
  BYTE* m_view = nullptr;
  DWORD m_areaSize = 0;
  HANDLE m_mapping = nullptr;
  HANDLE m_writerLock = nullptr;
};
