// CertEncryptPkcs7 and CertDecryptPkcs7: a text enveloped for the holders of
// the given certificates, and opened again with a key of the personal store,
// or of a PFX file the user points to when the store has none.
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <limits>

#include "cert/pfx_file.h"
#include "crypt/envelope.h"
#include "codec/base64_wide.h"
#include "codec/byte_buffer.h"
#include "engine/capi_engine.h"
#include "keys/pfx_settings.h"
#include "kvseam/owned_handles.h"
#include "vocabulary/text.h"
#include "ui/dialog_launch.h"

namespace {

BSTR EmptyResult() { return kv::NarrowToBstr(std::string()); }


}  // namespace

BSTR CCapiEngine::CertEncryptPkcs7(BSTR strPlainText, BSTR strCertB64, LONG iAlgorithm, LONG dwFlags) {
  ResetErrors();
  kv::crypt::SecretBytes plain;
  const bool haveText = kv::crypt::TextToBytes(strPlainText, dwFlags, &plain);
  SysFreeString(strPlainText);
  const std::string certB64 = kv::TakeNarrow(strCertB64);
  if (!haveText) {
    Fail(ERR_BAD_PARAM);
    return EmptyResult();
  }
  if (RefuseInProtectedMode()) return EmptyResult();
  if (certB64.empty()) {
    Fail(ERR_BAD_PARAM);
    return EmptyResult();
  }

  kv::crypt::CRecipientList recipients;
  DWORD platformError = 0;
  ErrorCode code = kv::crypt::ReadRecipients(certB64, &recipients, &platformError);
  if (code != ERR_SUCCESS) {
    FailWithPlatformError(code, platformError);
    return EmptyResult();
  }
  std::vector<BYTE> message;
  if (!kv::crypt::EncryptEnvelope(recipients, iAlgorithm, plain, &message, &platformError)) {
    FailWithPlatformError(ERR_CIPHER_ENCRYPT, platformError);
    return EmptyResult();
  }
  plain.Wipe();
  // Base64 goes straight into the result: for a large text the envelope and
  // the result are the only copies left.
  const size_t length = kv::codec::Base64Length(message.size());
  const bool fits = !message.empty() && length <= static_cast<size_t>(std::numeric_limits<int32_t>::max());
  BSTR result = fits ? SysAllocStringLen(nullptr, static_cast<UINT>(length)) : nullptr;
  if (!result) {
    // Past about 800 MB of envelope its Base64 no longer fits a string (a
    // 32-bit byte count): the caller learns it was the size.
    FailWithPlatformError(ERR_CIPHER_ENCRYPT, ERROR_NOT_ENOUGH_MEMORY);
    return EmptyResult();
  }
  kv::codec::EncodeBase64Wide(message.data(), message.size(), result);
  return result;
}

BSTR CCapiEngine::CertDecryptPkcs7(BSTR strCipher, LONG dwFlags) {
  ResetErrors();
  CByteBuffer message;
  {
    // The text goes as soon as it is decoded: a large message is held once.
    std::string cipherText = kv::TakeNarrow(strCipher);
    if (cipherText.empty()) {
      Fail(ERR_BAD_PARAM);
      return EmptyResult();
    }
    if (!message.DecodeBase64(cipherText.c_str())) {
      Fail(ERR_CIPHER_FORMAT);
      return EmptyResult();
    }
  }
  if (RefuseInProtectedMode()) return EmptyResult();

  kv::OwnedStore my(CertOpenSystemStoreA(0, "MY"));
  if (!my.get()) {
    FailWithLastError(ERR_OPEN_MY_STORE);
    return EmptyResult();
  }
  kv::crypt::SecretBytes plain;
  DWORD size = 0;
  DWORD platformError = 0;
  const DWORD messageSize = static_cast<DWORD>(message.Size());
  ErrorCode code = kv::crypt::DecryptEnvelope(my.get(), message.Data(), messageSize, &plain, &size, &platformError);
  if (code == ERR_DECRYPT_NO_CERT) {
    // No key for the message in the personal store: the user may hold it in a PFX file.
    std::string folder, fileName, password;
    code = kv::ui::AskPfxFile(folder, fileName, password, Pfx().MinPasswordLength(), Pfx().MaxPasswordLength());
    if (code != ERR_SUCCESS) {
      Fail(code);
      return EmptyResult();
    }
    CPfxFile pfx;
    if (pfx.Load(folder + "\\" + fileName, password, 1) != ERR_SUCCESS) {
      FailWithPlatformError(ERR_CERT_NOT_FOUND, pfx.LastError());
      return EmptyResult();
    }
    code = kv::crypt::DecryptEnvelope(pfx.Store(), message.Data(), messageSize, &plain, &size, &platformError);
  }
  if (code != ERR_SUCCESS) {
    // The service's number says why (a malformed message, a key that will not unwrap).
    FailWithPlatformError(code, platformError);
    return EmptyResult();
  }
  if (!kv::crypt::PlainTextFits(size, dwFlags)) {
    FailWithPlatformError(ERR_CIPHER_DECRYPT, static_cast<DWORD>(NTE_BAD_DATA));
    return EmptyResult();
  }
  message.Clear();
  return kv::crypt::BytesToText(plain.data(), size, dwFlags);
}
