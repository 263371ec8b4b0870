// CDerBlob: the owned byte string DER encodings are built in. The bytes are
// always followed by one zero byte; growth is amortised so that encoding a
// structure member by member stays linear.
#pragma once

#include <windows.h>

#include <cstdint>

class CDerBlob {
 public:
  CDerBlob() = default;
  ~CDerBlob();
  CDerBlob(const CDerBlob&) = delete;
  CDerBlob& operator=(const CDerBlob&) = delete;

  DWORD Length() const { return m_length; }
  const BYTE* Bytes() const { return m_bytes; }
  BYTE* Bytes() { return m_bytes; }

  // Drops the old bytes and holds n zero bytes (n = 0: empty).
  [[nodiscard]] BYTE Allocate(DWORD n);
  // Replaces the bytes with a copy of n bytes (n >= 0, src not null).
  [[nodiscard]] BYTE Assign(const void* src, int32_t n);
  // Appends n bytes (n > 0, src not null); 0 and unchanged otherwise.
  [[nodiscard]] BYTE Append(const void* src, int32_t n);
  void Clear();

  // The largest length a blob may reach: every length of the codec fits a
  // signed 32-bit number.
  static constexpr DWORD kMaxLength = 0x7FFFFFF0u;

 private:
  [[nodiscard]] bool Reserve(DWORD needed);
  bool Holds(const void* p) const;

  BYTE* m_bytes = nullptr;
  DWORD m_length = 0;
  DWORD m_capacity = 0;  // bytes allocated, always > m_length when m_bytes is set
};
