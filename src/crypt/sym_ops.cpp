// SymEncrypt and SymDecrypt: DES or triple-DES in CBC mode under a key the
// caller gives in hexadecimal (used as it is, no derivation), ciphertext as
// one line of Base64.
#include <windows.h>
#include <oleauto.h>

#include "crypt/crypt_text.h"
#include "crypt/sym_cipher.h"
#include "engine/capi_engine.h"
#include "vocabulary/text.h"

namespace {

constexpr LONG kAlgorithmTripleDes = 0;
constexpr LONG kAlgorithmDes = 1;

constexpr int32_t kDesKeyBytes = 8;
constexpr int32_t kTwoKeyTripleDesBytes = 16;
constexpr int32_t kThreeKeyTripleDesBytes = 24;

BSTR EmptyResult() { return kv::NarrowToBstr(std::string()); }

// A decoded key, zeroed when it goes.
class KeyBuffer : public CByteBuffer {
 public:
  ~KeyBuffer() override {
    if (!Empty()) SecureZeroMemory(Data(), static_cast<SIZE_T>(Size()));
  }
};

// The hex decoder turns away an empty or odd-length key (5005). It reads any
// character by its arithmetic, and pages rely on that, but a key text with
// characters the code page cannot carry would narrow to default characters
// first, so that different keys become one: such a text is no key of any
// length (9003).
ErrorCode DecodeKey(const std::string& keyHex, bool carried, KeyBuffer* key) {
  if (keyHex.empty()) return ERR_BAD_PARAM;
  if (!carried) return ERR_CIPHER_PASSWORD_LENGTH;
  return key->DecodeHex(keyHex.c_str()) ? ERR_SUCCESS : ERR_BAD_PARAM;
}

// Sets the cipher up for the algorithm and key: 9001 for an unknown
// algorithm, 9003 for a key length the algorithm does not take.
ErrorCode PrepareCipher(const CByteBuffer& key, LONG algorithm, CSymCipher* cipher) {
  ALG_ID algId = 0;
  if (algorithm == kAlgorithmTripleDes) {
    if (key.Size() == kTwoKeyTripleDesBytes) algId = CALG_3DES_112;
    else if (key.Size() == kThreeKeyTripleDesBytes) algId = CALG_3DES;
    else return ERR_CIPHER_PASSWORD_LENGTH;
  } else if (algorithm == kAlgorithmDes) {
    if (key.Size() != kDesKeyBytes) return ERR_CIPHER_PASSWORD_LENGTH;
    algId = CALG_DES;
  } else {
    return ERR_CIPHER_ALGORITHM;
  }
  cipher->SetAlgorithm(algId);
  cipher->SetKey(key.Data(), key.Size());
  cipher->SetMode(CRYPT_MODE_CBC);
  return ERR_SUCCESS;
}

}  // namespace

BSTR CCapiEngine::SymEncrypt(BSTR strPlainText, BSTR strPasswdHex, LONG iAlgorithm, LONG dwFlags) {
  ResetErrors();
  kv::crypt::SecretBytes plain;
  const bool haveText = kv::crypt::TextToBytes(strPlainText, dwFlags, &plain);
  SysFreeString(strPlainText);
  const bool keyCarried = kv::CodePageCarries(strPasswdHex);
  const std::string keyHex = kv::TakeNarrow(strPasswdHex);
  if (!haveText) {
    Fail(ERR_BAD_PARAM);
    return EmptyResult();
  }
  if (RefuseInProtectedMode()) return EmptyResult();

  KeyBuffer key;
  ErrorCode code = DecodeKey(keyHex, keyCarried, &key);
  if (code != ERR_SUCCESS) {
    Fail(code);
    return EmptyResult();
  }
  CSymCipher cipher;
  code = PrepareCipher(key, iAlgorithm, &cipher);
  if (code != ERR_SUCCESS) {
    Fail(code);
    return EmptyResult();
  }
  if (!cipher.Encrypt(plain.data(), static_cast<int32_t>(plain.size()))) {
    FailWithPlatformError(ERR_CIPHER_ENCRYPT, cipher.LastError());
    return EmptyResult();
  }
  CByteBuffer text;
  if (!text.EncodeBase64(cipher.Data(), cipher.Size())) {
    Fail(ERR_MEM_ALLOC);
    return EmptyResult();
  }
  return kv::NarrowToBstr(text.c_str());
}

BSTR CCapiEngine::SymDecrypt(BSTR strCipher, BSTR strPasswdHex, LONG iAlgorithm, LONG dwFlags) {
  ResetErrors();
  const std::string cipherText = kv::TakeNarrow(strCipher);
  const bool keyCarried = kv::CodePageCarries(strPasswdHex);
  const std::string keyHex = kv::TakeNarrow(strPasswdHex);
  if (cipherText.empty()) {
    Fail(ERR_BAD_PARAM);
    return EmptyResult();
  }
  CByteBuffer encrypted;
  if (!encrypted.DecodeBase64(cipherText.c_str())) {
    Fail(ERR_CIPHER_FORMAT);
    return EmptyResult();
  }
  KeyBuffer key;
  ErrorCode code = DecodeKey(keyHex, keyCarried, &key);
  if (code != ERR_SUCCESS) {
    Fail(code);
    return EmptyResult();
  }
  if (RefuseInProtectedMode()) return EmptyResult();

  CSymCipher cipher;
  code = PrepareCipher(key, iAlgorithm, &cipher);
  if (code != ERR_SUCCESS) {
    Fail(code);
    return EmptyResult();
  }
  if (!cipher.Decrypt(encrypted.Data(), encrypted.Size())) {
    FailWithPlatformError(ERR_CIPHER_DECRYPT, cipher.LastError());
    return EmptyResult();
  }
  if (!kv::crypt::PlainTextFits(static_cast<size_t>(cipher.Size()), dwFlags)) {
    FailWithPlatformError(ERR_CIPHER_DECRYPT, static_cast<DWORD>(NTE_BAD_DATA));
    return EmptyResult();
  }
  BSTR result = kv::crypt::BytesToText(cipher.Data(), static_cast<size_t>(cipher.Size()), dwFlags);
  if (!cipher.Empty()) SecureZeroMemory(cipher.Data(), static_cast<SIZE_T>(cipher.Size()));
  return result;
}
