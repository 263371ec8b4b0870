// CSignerCache: the engine's use of the shared signer area. SaveSigner writes
// the chosen signer under six keys; the readers give the cached values, or an
// empty value when the area or the key is missing, so callers proceed as if
// nothing was cached.
#pragma once

#include <windows.h>

#include <string>

#include "codec/byte_buffer.h"

class CCapiEngine;
class cSharedMemory;

// Name and size of the engine's shared area.
inline constexpr char kSignerAreaName[] = "Korvessa Module";
inline constexpr DWORD kSignerAreaSize = 20480;

// Keys of the signer entries.
inline constexpr char kSignerMediaKey[] = "signerMedia";
inline constexpr char kSignerCertHashKey[] = "signerCertHash";
inline constexpr char kSignerCertBytesKey[] = "signerCertBytes";
inline constexpr char kSignerCertPasswdKey[] = "signerCertPasswd";
inline constexpr char kSignerCertFilePathKey[] = "signerCertFilePath";
inline constexpr char kSignerCertFileNameKey[] = "signerCertFileName";

class CSignerCache {
 public:
  explicit CSignerCache(CCapiEngine& engine) : m_engine(engine) {}

  // The engine's area, created on first use (null if it cannot be allocated).
  cSharedMemory* Area();
  // Writes the engine's whole signer record; failures are not reported.
  void SaveSigner();
  // The stored int32, or -1.
  LONG ReadInt(const std::string& key);
  // The stored bytes as text up to the first NUL; "" when missing.
  std::string ReadString(const std::string& key);
  // Empties `out`, then fills it; true only if the key exists and was read.
  bool ReadBytes(const std::string& key, CByteBuffer& out);
  // Removes the key if present, then adds the string's bytes (an empty string
  // is removed and not added again).
  void WriteString(const std::string& key, const std::string& value);

 private:
  CCapiEngine& m_engine;
};
