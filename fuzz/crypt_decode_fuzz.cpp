// Fuzz target for the provider's and messages' decoders: the first byte picks
// X509_NAME or RSA_CSP_PUBLICKEYBLOB decoding, PKCS#7 message decoding with
// its parameters, key blob import, or envelope decryption.
#define KV_WINCRYPT_STRUCT_NAMES 1
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void DecodeStruct(LPCSTR type, const BYTE* data, DWORD size) {
  DWORD need = 0;
  if (!CryptDecodeObject(X509_ASN_ENCODING, type, data, size, 0, nullptr, &need)) return;
  std::vector<BYTE> out(need);
  CryptDecodeObject(X509_ASN_ENCODING, type, data, size, 0, out.data(), &need);
}

void DecodeMessage(const BYTE* data, DWORD size) {
  HCRYPTMSG msg = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
  if (CryptMsgUpdate(msg, data, size, TRUE)) {
    DWORD count = 0, n = sizeof(count);
    if (CryptMsgGetParam(msg, CMSG_CERT_COUNT_PARAM, 0, &count, &n)) {
      for (DWORD i = 0; i < count && i < 8; ++i) {
        DWORD need = 0;
        if (!CryptMsgGetParam(msg, CMSG_CERT_PARAM, i, nullptr, &need)) continue;
        std::vector<BYTE> cert(need);
        CryptMsgGetParam(msg, CMSG_CERT_PARAM, i, cert.data(), &need);
      }
    }
    DWORD need = 0;
    if (CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, nullptr, &need)) {
      std::vector<BYTE> content(need);
      CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, content.data(), &need);
    }
  }
  CryptMsgClose(msg);
}

void ImportBlob(const BYTE* data, DWORD size) {
  static HCRYPTPROV prov = [] {
    HCRYPTPROV p = 0;
    CryptAcquireContextA(&p, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    return p;
  }();
  HCRYPTKEY key = 0;
  if (!CryptImportKey(prov, data, size, 0, CRYPT_EXPORTABLE, &key)) return;
  DWORD need = 0;
  if (CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &need)) {
    std::vector<BYTE> blob(need);
    CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &need);
  }
  CryptDestroyKey(key);
}

void DecryptEnvelope(const BYTE* data, DWORD size) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  CRYPT_DECRYPT_MESSAGE_PARA para = {sizeof(para), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 1, &store, 0};
  DWORD need = 0;
  CryptDecryptMessage(&para, data, size, nullptr, &need, nullptr);
  CertCloseStore(store, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const BYTE* body = data + 1;
  DWORD length = static_cast<DWORD>(size - 1);
  switch (data[0] % 5) {
    case 0: DecodeStruct(X509_NAME, body, length); break;
    case 1: DecodeStruct(RSA_CSP_PUBLICKEYBLOB, body, length); break;
    case 2: DecodeMessage(body, length); break;
    case 3: ImportBlob(body, length); break;
    case 4: DecryptEnvelope(body, length); break;
  }
  return 0;
}
