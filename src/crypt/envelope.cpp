// Certificate envelopes: the content-algorithm table, the two-call size and
// data protocol of the message services, and the decryption error mapping.
#include "crypt/envelope.h"

#include "cert/cert_info.h"

namespace kv::crypt {
namespace {

constexpr LONG kAlgorithmDes = 1;
constexpr LONG kAlgorithmRc4 = 2;

// Room after the plain bytes so that both text readings find a terminator.
constexpr DWORD kSpareZeros = 8;

}  // namespace

const char* ContentAlgorithmOid(LONG iAlgorithm) {
  if (iAlgorithm == kAlgorithmDes) return szOID_OIWSEC_desCBC;
  if (iAlgorithm == kAlgorithmRc4) return szOID_RSA_RC4;
  return szOID_RSA_DES_EDE3_CBC;
}

bool EncryptEnvelope(CRecipientList& recipients, LONG iAlgorithm, const SecretBytes& plain, std::vector<BYTE>* message,
                     DWORD* platformError) {
  *platformError = 0;
  CRYPT_ENCRYPT_MESSAGE_PARA para{};
  para.cbSize = sizeof(para);
  para.dwMsgEncodingType = kCertEncoding;
  para.hCryptProv = 0;
  para.ContentEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(ContentAlgorithmOid(iAlgorithm));
  DWORD size = 0;
  if (!CryptEncryptMessage(&para, recipients.Count(), recipients.Contexts(), plain.data(),
                           static_cast<DWORD>(plain.size()), nullptr, &size) ||
      size == 0) {
    *platformError = GetLastError();
    return false;
  }
  message->assign(size, 0);
  if (!CryptEncryptMessage(&para, recipients.Count(), recipients.Contexts(), plain.data(),
                           static_cast<DWORD>(plain.size()), message->data(), &size)) {
    *platformError = GetLastError();
    message->clear();
    return false;
  }
  message->resize(size);
  return true;
}

ErrorCode MapDecryptError(DWORD platformError) {
  switch (platformError) {
    case static_cast<DWORD>(NTE_BAD_KEY):
      return ERR_CERT_KEY_USAGE;
    case static_cast<DWORD>(NTE_BAD_ALGID):
    case static_cast<DWORD>(CRYPT_E_UNEXPECTED_MSG_TYPE):
      return ERR_PKCS7_FORMAT;
    case static_cast<DWORD>(CRYPT_E_NO_DECRYPT_CERT):
      return ERR_DECRYPT_NO_CERT;
    default:
      return ERR_CIPHER_DECRYPT;
  }
}

ErrorCode DecryptEnvelope(HCERTSTORE store, const BYTE* message, DWORD messageSize, SecretBytes* plain, DWORD* size,
                          DWORD* platformError) {
  plain->clear();
  *size = 0;
  *platformError = 0;
  HCERTSTORE stores[] = {store};
  CRYPT_DECRYPT_MESSAGE_PARA para{};
  para.cbSize = sizeof(para);
  para.dwMsgAndCertEncodingType = kCertEncoding;
  para.cCertStore = 1;
  para.rghCertStore = stores;
  DWORD needed = 0;
  if (!CryptDecryptMessage(&para, message, messageSize, nullptr, &needed, nullptr)) {
    *platformError = GetLastError();
    return MapDecryptError(*platformError);
  }
  plain->assign(static_cast<size_t>(needed) + kSpareZeros, 0);
  DWORD produced = needed;
  if (!CryptDecryptMessage(&para, message, messageSize, plain->data(), &produced, nullptr)) {
    *platformError = GetLastError();
    plain->clear();
    return MapDecryptError(*platformError);
  }
  *size = produced <= needed ? produced : needed;
  return ERR_SUCCESS;
}

}  // namespace kv::crypt
