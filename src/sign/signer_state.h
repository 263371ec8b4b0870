// The signer the engine keeps between calls: where it was chosen from, its
// certificate, the PFX file it lives in, and what signing keeps open (the
// signer's store, its key's provider handle, the shared signer area). The
// engine owns one; selection, signing, the signer getters and the PFX and
// mobile exports reach it through these methods.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>

#include "codec/byte_buffer.h"

class CCertFinder;
class cSharedMemory;

namespace kv::sign {

inline constexpr LONG kSourceNone = -1;
inline constexpr LONG kSourceStore = 1;
inline constexpr LONG kSourcePfx = 2;

class SignerState {
 public:
  SignerState();
  ~SignerState();
  SignerState(const SignerState&) = delete;
  SignerState& operator=(const SignerState&) = delete;

  // kSourceNone, kSourceStore or kSourcePfx.
  LONG Source() const { return m_source; }
  void SetSource(LONG source) { m_source = source; }
  // The certificate's SHA-1 thumbprint, as CCertInfo writes it.
  const std::string& Fingerprint() const { return m_fingerprint; }
  void SetFingerprint(std::string fingerprint) { m_fingerprint = std::move(fingerprint); }
  // The certificate's encoding.
  const CByteBuffer& Certificate() const { return m_certificate; }
  // Replaces the encoding; false (and empty) when it cannot be held.
  bool SetCertificate(const BYTE* der, int32_t size);
  // Adds an encoding after the one held, as a PFX import does.
  bool AppendCertificate(const BYTE* der, int32_t size);
  // Records `context` as the signer: its thumbprint and encoding.
  bool RecordCertificate(PCCERT_CONTEXT context);

  // The PFX file of a kSourcePfx signer and its password.
  const std::string& PfxPath() const { return m_pfxPath; }
  const std::string& PfxName() const { return m_pfxName; }
  const std::string& PfxPassword() const { return m_pfxPassword; }
  void SetPfxFile(std::string path, std::string name);
  void SetPfxPassword(std::string password) { m_pfxPassword = std::move(password); }

  // The store the signer's certificate is taken from when signing ("MY", or
  // the signer's PFX file), kept open between signatures.
  CCertFinder* Store() const { return m_store.get(); }
  void SetStore(std::unique_ptr<CCertFinder> store);
  // The key's provider, acquired with CRYPT_ACQUIRE_CACHE_FLAG: it belongs to
  // the certificate context that cached it and is released with it, so the
  // state only forgets it.
  HCRYPTPROV Provider() const { return m_provider; }
  void SetProvider(HCRYPTPROV provider) { m_provider = provider; }
  // A key that stopped working: forgets it and the store it came from.
  void DropKey();

  // The shared signer area, once opened (null before).
  cSharedMemory* Cache() const { return m_cache.get(); }
  void SetCache(std::unique_ptr<cSharedMemory> cache);

  // Empties the record and lets go of the key and the store.
  void Forget();

 private:
  LONG m_source = kSourceNone;
  std::string m_fingerprint;
  CByteBuffer m_certificate;
  std::string m_pfxPassword;
  std::string m_pfxPath;
  std::string m_pfxName;
  std::unique_ptr<CCertFinder> m_store;
  HCRYPTPROV m_provider = 0;
  std::unique_ptr<cSharedMemory> m_cache;  // declared last: released first
};

}  // namespace kv::sign
