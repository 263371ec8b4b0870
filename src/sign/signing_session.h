// The preparation both signing operations share: the content check, the
// signer's store or PFX (with a newer password from the signer cache), the
// certificate found by thumbprint, its key-provider information, the private
// key and the confirmation dialog.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "cert/cert_finder.h"
#include "codec/byte_buffer.h"
#include "kvseam/owned_handles.h"
#include "vocabulary/error_codes.h"

class CCapiEngine;

namespace kv::sign {

// Content flag: sign the text in the ANSI code page instead of UTF-16LE.
inline constexpr LONG kContentAnsi = 0x800;
// Show the signing confirmation first.
inline constexpr LONG kConfirm = 0x8000;

class SigningSession {
 public:
  SigningSession(CCapiEngine& engine, BSTR content, LONG flags);
  ~SigningSession();
  SigningSession(const SigningSession&) = delete;
  SigningSession& operator=(const SigningSession&) = delete;

  // Content check, protected mode, signer, store or PFX, certificate by
  // thumbprint, key-provider information (missing: `noKeyInfoCode`).
  ErrorCode Open(ErrorCode noKeyInfoCode);
  // The private key into the signer state (5206 / 5225 on failure).
  ErrorCode AcquireKey();
  // The confirmation dialog when the flags ask for it.
  ErrorCode Confirm();
  // The bytes to sign: UTF-16LE code units, or the ANSI text up to its first NUL.
  bool ContentBytes(CByteBuffer* out) const;
  // CryptCreateHash / HP_HASHVAL / CryptSignHashA twice; the signature as the
  // platform returns it (least significant byte first). A SHA-2 value that
  // the key's provider cannot sign is signed through the AES-capable
  // provider on the same container.
  ErrorCode SignHashValue(ALG_ID algorithm, const BYTE* value, CByteBuffer* signature);

  PCCERT_CONTEXT Certificate() const { return m_cert.get(); }

 private:
  ErrorCode OpenStore();

  CCapiEngine& m_engine;
  BSTR m_content;
  LONG m_flags;
  std::string m_narrow;
  CCertFinder* m_finder = nullptr;  // the engine's signer store ("MY" or the signer's PFX)
  kv::OwnedCertificate m_cert;
  KeyProvInfoPtr m_keyInfo;
};

}  // namespace kv::sign
