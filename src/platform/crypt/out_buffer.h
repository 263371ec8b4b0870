// The CryptoAPI rule for returning variable-sized data, written once for the
// crypt and certificate calls: a null buffer asks for the size (success, size
// set); a buffer that is too small fails with ERROR_MORE_DATA and the size
// needed; otherwise the bytes are written and the size set to what was
// written.
#pragma once

#include <windows.h>

#include <cstring>
#include <vector>

namespace kv::platform::crypt {

// The rule for data built in place (a structure pointing into its own
// buffer): `fill(out)` writes exactly `size` bytes once the buffer is known
// to be large enough.
template <typename Fill>
BOOL ReturnFilled(size_t size, void* out, DWORD* pcbOut, Fill fill) {
  if (!pcbOut) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (size > 0xFFFFFFFFu) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  DWORD needed = static_cast<DWORD>(size);
  if (out && *pcbOut < needed) {
    *pcbOut = needed;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  if (out && needed) fill(out);
  *pcbOut = needed;
  return TRUE;
}

inline BOOL ReturnBytes(const void* data, size_t size, void* out, DWORD* pcbOut) {
  return ReturnFilled(size, out, pcbOut, [&](void* to) {
    if (data) std::memcpy(to, data, size);
  });
}

inline BOOL ReturnBytes(const std::vector<BYTE>& bytes, void* out, DWORD* pcbOut) {
  return ReturnBytes(bytes.data(), bytes.size(), out, pcbOut);
}

inline BOOL ReturnDword(DWORD value, void* out, DWORD* pcbOut) {
  return ReturnBytes(&value, sizeof(value), out, pcbOut);
}

inline BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

inline BOOL Fail(HRESULT error) { return Fail(static_cast<DWORD>(error)); }

}  // namespace kv::platform::crypt
