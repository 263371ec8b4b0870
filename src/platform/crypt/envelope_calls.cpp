// CryptEncryptMessage and CryptDecryptMessage: PKCS#7 EnvelopedData with RSA
// key transport and DES-CBC, RC4, triple-DES-CBC or AES-CBC content
// encryption. Envelopes are written with issuer and serial number
// recipients, as Windows writes them, and read as CMS, whose recipients may
// also be named by subject key identifier.
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "crypt/crypt_objects.h"
#include "crypt/des_chain.h"
#include "der/der_builder.h"
#include "der/der_span.h"
#include "crypt/out_buffer.h"
#include "crypt/rsa_blob.h"
#include "crypt/pkcs7_parse.h"

namespace kv::platform::crypt {

using der::Bytes;
namespace {

constexpr char kRsaEncryption[] = "1.2.840.113549.1.1.1";
constexpr char kDataOid[] = "1.2.840.113549.1.7.1";
constexpr char kEnvelopedOid[] = "1.2.840.113549.1.7.3";

struct ContentAlg {
  const char* oid;
  size_t keyBytes;
  size_t ivBytes;  // 0: stream cipher, parameters an empty OCTET STRING
  const EVP_CIPHER* (*cipher)();
  ALG_ID desAlg;  // DES and triple-DES run on the provider's own CBC chain; 0 otherwise
};

const ContentAlg kContentAlgs[] = {
    {"1.3.14.3.2.7", 8, 8, EVP_des_cbc, CALG_DES},
    {"1.2.840.113549.3.7", 24, 8, EVP_des_ede3_cbc, CALG_3DES},
    {"1.2.840.113549.3.4", 16, 0, EVP_rc4, 0},
    {"2.16.840.1.101.3.4.1.2", 16, 16, EVP_aes_128_cbc, 0},
    {"2.16.840.1.101.3.4.1.22", 24, 16, EVP_aes_192_cbc, 0},
    {"2.16.840.1.101.3.4.1.42", 32, 16, EVP_aes_256_cbc, 0},
};

const ContentAlg* FindContentAlg(const std::string& oid) {
  for (const ContentAlg& a : kContentAlgs) {
    if (oid == a.oid) return &a;
  }
  return nullptr;
}

// DES keys carry odd parity in every byte, as the providers generate them.
void SetOddParity(Bytes* key) {
  for (BYTE& b : *key) {
    BYTE v = b & 0xFE;
    int ones = 0;
    for (int i = 1; i < 8; ++i) ones += (v >> i) & 1;
    b = static_cast<BYTE>(v | ((ones % 2 == 0) ? 1 : 0));
  }
}

bool RunCipher(const EVP_CIPHER* cipher, const Bytes& key, const Bytes& iv, bool encrypt, const BYTE* in,
               size_t inLen, Bytes* out) {
  CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, nullptr, nullptr, encrypt ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) != 1 ||
      EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), encrypt ? 1 : 0) != 1) {
    return false;
  }
  out->assign(inLen + 32, 0);
  int len1 = 0, len2 = 0;
  if (EVP_CipherUpdate(ctx.get(), out->data(), &len1, in, static_cast<int>(inLen)) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out->data() + len1, &len2) != 1) {
    return false;
  }
  out->resize(static_cast<size_t>(len1 + len2));
  return true;
}

// Decrypts blocks of the content and removes the PKCS#5 padding. DES and
// triple-DES go through the chain the provider's session keys use, which
// decrypts several blocks side by side; the rest through OpenSSL.
bool DecryptPadded(const ContentAlg& alg, const Bytes& key, const Bytes& iv, const BYTE* in, size_t inLen,
                   Bytes* out) {
  if (!alg.desAlg) return RunCipher(alg.cipher(), key, iv, false, in, inLen, out);
  std::shared_ptr<DesChain> chain = DesChain::Create(alg.desAlg, key, iv, false);
  if (!chain) return false;
  constexpr size_t kBlock = 8;
  if (inLen == 0 || inLen % kBlock) return false;
  out->assign(in, in + inLen);
  chain->Run(out->data(), static_cast<DWORD>(inLen));
  const BYTE pad = out->back();
  bool ok = pad >= 1 && pad <= kBlock;
  for (size_t i = 0; ok && i < pad; ++i) ok = (*out)[inLen - 1 - i] == pad;
  if (!ok) {
    OPENSSL_cleanse(out->data(), out->size());
    return false;
  }
  out->resize(inLen - pad);
  return true;
}

// The length the content cipher makes of `inLen` bytes.
size_t EncryptedLength(const ContentAlg& alg, size_t inLen) {
  const size_t block = alg.ivBytes;  // the block size of every block cipher here
  return block ? (inLen / block + 1) * block : inLen;
}

// The plain length of a CBC content without decrypting all of it: the last
// block, chained from the one before it (or the IV), carries the padding and
// is checked as a whole decryption would check it.
bool PlainLength(const ContentAlg& alg, const Bytes& key, const Bytes& iv, der::Span content, size_t* length) {
  const size_t block = alg.ivBytes;
  if (!block) {
    *length = content.size();
    return true;
  }
  if (content.empty() || content.size() % block) return false;
  const size_t tail = content.size() - block;
  Bytes chainedFrom = tail ? Bytes(content.data() + tail - block, content.data() + tail) : iv;
  Bytes last;
  if (!DecryptPadded(alg, key, chainedFrom, content.data() + tail, block, &last)) return false;
  *length = tail + last.size();
  OPENSSL_cleanse(last.data(), last.size());
  return true;
}

// Tag and definite length of an element of `size` content bytes.
Bytes ElementHeader(BYTE tag, size_t size) {
  Bytes header{tag};
  if (size < 0x80) {
    header.push_back(static_cast<BYTE>(size));
    return header;
  }
  int bytes = 0;
  for (size_t v = size; v; v >>= 8) ++bytes;
  header.push_back(static_cast<BYTE>(0x80 | bytes));
  for (int i = bytes - 1; i >= 0; --i) header.push_back(static_cast<BYTE>(size >> (8 * i)));
  return header;
}

void Append(Bytes* to, const Bytes& bytes) { to->insert(to->end(), bytes.begin(), bytes.end()); }

// Encrypts `inLen` plain bytes with PKCS#5 padding (block ciphers) into `out`,
// which holds EncryptedLength(alg, inLen) bytes. DES and triple-DES go
// through the chain the provider's session keys use, in place.
bool EncryptContent(const ContentAlg& alg, const Bytes& key, const Bytes& iv, const BYTE* in, size_t inLen,
                    BYTE* out) {
  const size_t outLen = EncryptedLength(alg, inLen);
  if (alg.desAlg) {
    std::shared_ptr<DesChain> chain = DesChain::Create(alg.desAlg, key, iv, true);
    if (!chain) return false;
    if (inLen) std::memcpy(out, in, inLen);
    std::memset(out + inLen, static_cast<int>(outLen - inLen), outLen - inLen);
    chain->Run(out, static_cast<DWORD>(outLen));
    return true;
  }
  CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  int len1 = 0, len2 = 0;
  return ctx && EVP_CipherInit_ex(ctx.get(), alg.cipher(), nullptr, nullptr, nullptr, 1) == 1 &&
         EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) == 1 &&
         EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), 1) == 1 &&
         EVP_CipherUpdate(ctx.get(), out, &len1, in, static_cast<int>(inLen)) == 1 &&
         EVP_CipherFinal_ex(ctx.get(), out + len1, &len2) == 1 && static_cast<size_t>(len1 + len2) == outLen;
}

// An envelope being written: the content key, and everything before the
// encrypted content octets. The content is the last field of every element
// that holds it, so the envelope is this head followed by the content, which
// the data call encrypts straight into the caller's buffer.
struct EnvelopeHead {
  const ContentAlg* alg = nullptr;
  Bytes key, iv;
  Bytes head;
  size_t contentLength = 0;
  ~EnvelopeHead() { OPENSSL_cleanse(key.data(), key.size()); }
};

// The head for `count` recipients and `plainLen` plain bytes. A size query
// (`measureOnly`) wraps no key: the wrapped keys only take their room, as
// long as each recipient's modulus.
BOOL BuildEnvelopeHead(const CRYPT_ENCRYPT_MESSAGE_PARA& para, DWORD count, PCCERT_CONTEXT* certs, size_t plainLen,
                       bool measureOnly, EnvelopeHead* out) {
  const ContentAlg* alg = para.ContentEncryptionAlgorithm.pszObjId
                              ? FindContentAlg(para.ContentEncryptionAlgorithm.pszObjId)
                              : nullptr;
  if (!alg) return Fail(CRYPT_E_UNKNOWN_ALGO);
  EnsureLegacyProviders();
  out->alg = alg;
  Bytes& key = out->key;
  Bytes& iv = out->iv;
  key.assign(alg->keyBytes, 0);
  iv.assign(alg->ivBytes, 0);
  if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1 ||
      (!iv.empty() && RAND_bytes(iv.data(), static_cast<int>(iv.size())) != 1)) {
    return Fail(NTE_FAIL);
  }
  if (alg->ivBytes == 8) SetOddParity(&key);

  // EnvelopedData's fields before encryptedContentInfo: version 0, recipientInfos.
  der::Builder b;
  b.AddSmallInteger(0);
  b.Open(der::kSet);
  for (DWORD i = 0; i < count; ++i) {
    PCCERT_CONTEXT cert = certs[i];
    if (!cert || !cert->pCertInfo) return Fail(static_cast<DWORD>(E_INVALIDARG));
    const CERT_INFO& info = *cert->pCertInfo;
    DWORD keyError = 0;
    PkeyPtr pub = RsaFromPublicKeyInfo(info.SubjectPublicKeyInfo, &keyError);
    if (!pub) return Fail(NTE_BAD_ALGID);
    Bytes wrapped(static_cast<size_t>(EVP_PKEY_get_size(pub.get())));
    size_t wrappedLen = wrapped.size();
    // PKCS#1 v1.5 needs 11 bytes besides the key; the output is always as long as the modulus.
    if (wrappedLen < key.size() + 11) return Fail(NTE_FAIL);
    if (!measureOnly) {
      PkeyCtxPtr ctx(EVP_PKEY_CTX_new(pub.get(), nullptr));
      bool ok = ctx && EVP_PKEY_encrypt_init(ctx.get()) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
                EVP_PKEY_encrypt(ctx.get(), wrapped.data(), &wrappedLen, key.data(), key.size()) == 1;
      if (!ok) return Fail(NTE_FAIL);
    }
    // KeyTransRecipientInfo { version 0, IssuerAndSerialNumber,
    // rsaEncryption with NULL parameters, encryptedKey }
    b.Open(der::kSequence);
    b.AddSmallInteger(0);
    b.Open(der::kSequence);  // IssuerAndSerialNumber, from the certificate's own fields
    b.AddEncoded(info.Issuer.pbData, info.Issuer.cbData);
    Bytes serial(info.SerialNumber.pbData, info.SerialNumber.pbData + info.SerialNumber.cbData);
    std::reverse(serial.begin(), serial.end());  // kept least significant byte first
    b.Add(der::kInteger, serial);
    b.Close();
    b.Open(der::kSequence);
    b.AddOid(kRsaEncryption);
    b.AddNull();
    b.Close();
    b.Add(der::kOctetString, wrapped.data(), wrappedLen);
    b.Close();
  }
  b.Close();  // recipientInfos
  Bytes versionAndRecipients;
  if (!b.Finish(&versionAndRecipients)) return Fail(NTE_FAIL);
  // EncryptedContentInfo's fields before the content: data, the content
  // algorithm with its IV.
  b.AddOid(kDataOid);
  b.Open(der::kSequence);
  b.AddOid(alg->oid);
  b.Add(der::kOctetString, iv);
  b.Close();
  Bytes contentFields;
  if (!b.Finish(&contentFields)) return Fail(NTE_FAIL);
  b.AddOid(kEnvelopedOid);
  Bytes typeOid;
  if (!b.Finish(&typeOid)) return Fail(NTE_FAIL);

  // ContentInfo { envelopedData, [0] EnvelopedData { version, recipientInfos,
  // EncryptedContentInfo { data, algorithm, [0] IMPLICIT encryptedContent } } }
  const size_t content = EncryptedLength(*alg, plainLen);
  const Bytes contentHeader = ElementHeader(0x80, content);
  const size_t contentInfo = contentFields.size() + contentHeader.size() + content;
  const Bytes contentInfoHeader = ElementHeader(der::kSequence, contentInfo);
  const size_t enveloped = versionAndRecipients.size() + contentInfoHeader.size() + contentInfo;
  const Bytes envelopedHeader = ElementHeader(der::kSequence, enveloped);
  const size_t explicitTag = envelopedHeader.size() + enveloped;
  const Bytes explicitHeader = ElementHeader(der::kContext0, explicitTag);
  const size_t outer = typeOid.size() + explicitHeader.size() + explicitTag;
  Bytes& head = out->head;
  head = ElementHeader(der::kSequence, outer);
  for (const Bytes* part : std::initializer_list<const Bytes*>{&typeOid, &explicitHeader, &envelopedHeader, &versionAndRecipients, &contentInfoHeader,
                            &contentFields, &contentHeader}) {
    Append(&head, *part);
  }
  out->contentLength = content;
  return TRUE;
}

// The first certificate in the stores that the recipient names, by issuer
// and serial number or by key identifier, looked up as Windows does
// (CERT_FIND_CERT_ID).
PCCERT_CONTEXT FindRecipient(const CRYPT_DECRYPT_MESSAGE_PARA& para, const KeyTransRecipient& recipient) {
  CERT_ID id{};
  id.dwIdChoice = recipient.idChoice;
  Bytes serial;
  if (recipient.idChoice == CERT_ID_ISSUER_SERIAL_NUMBER) {
    serial = recipient.serial.ToVector();
    std::reverse(serial.begin(), serial.end());  // CERT_INFO keeps it least significant byte first
    id.IssuerSerialNumber.Issuer = {static_cast<DWORD>(recipient.issuer.size()),
                                    const_cast<BYTE*>(recipient.issuer.data())};
    id.IssuerSerialNumber.SerialNumber = {static_cast<DWORD>(serial.size()), serial.data()};
  } else {
    id.KeyId = {static_cast<DWORD>(recipient.keyId.size()), const_cast<BYTE*>(recipient.keyId.data())};
  }
  PCCERT_CONTEXT found = nullptr;
  for (DWORD s = 0; !found && s < para.cCertStore; ++s) {
    found = CertFindCertificateInStore(para.rghCertStore[s], X509_ASN_ENCODING, 0, CERT_FIND_CERT_ID, &id, nullptr);
  }
  return found;
}

// Unwraps the content key with the recipient's exchange key, through the
// provider as Windows does.
BOOL UnwrapKey(HCRYPTPROV prov, DWORD keySpec, der::Span wrapped, Bytes* key) {
  // The key exchange needs an exchange key; a signature-only key is refused.
  if (keySpec != AT_KEYEXCHANGE) return Fail(NTE_BAD_KEY);
  HCRYPTKEY exchange = 0;
  if (!CryptGetUserKey(prov, keySpec, &exchange)) return FALSE;
  Bytes data = wrapped.ToVector();
  std::reverse(data.begin(), data.end());
  DWORD len = static_cast<DWORD>(data.size());
  BOOL ok = CryptDecrypt(exchange, 0, TRUE, 0, data.data(), &len);
  DWORD error = GetLastError();
  CryptDestroyKey(exchange);
  if (!ok) return Fail(error);
  key->assign(data.begin(), data.begin() + len);
  OPENSSL_cleanse(data.data(), data.size());
  return TRUE;
}

// The content without its padding into `out` (PlainLength's bytes): all but
// the last block decrypted in place there, the last one, which holds the
// padding, on its own, so the plain text is never held twice.
bool DecryptInto(const ContentAlg& alg, const Bytes& key, const Bytes& iv, der::Span content, BYTE* out) {
  const size_t block = alg.ivBytes;
  const size_t body = block ? content.size() - block : content.size();
  if (body) {
    std::memcpy(out, content.data(), body);
    if (alg.desAlg) {
      std::shared_ptr<DesChain> chain = DesChain::Create(alg.desAlg, key, iv, false);
      if (!chain) return false;
      chain->Run(out, static_cast<DWORD>(body));
    } else {
      CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
      int len = 0;
      if (!ctx || EVP_CipherInit_ex(ctx.get(), alg.cipher(), nullptr, nullptr, nullptr, 0) != 1 ||
          EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) != 1 ||
          EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), 0) != 1 ||
          EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
          EVP_CipherUpdate(ctx.get(), out, &len, out, static_cast<int>(body)) != 1 ||
          static_cast<size_t>(len) != body) {
        return false;
      }
    }
  }
  if (!block) return true;
  Bytes chainedFrom = body ? Bytes(content.data() + body - block, content.data() + body) : iv;
  Bytes last;
  if (!DecryptPadded(alg, key, chainedFrom, content.data() + body, block, &last)) return false;
  if (!last.empty()) std::memcpy(out + body, last.data(), last.size());
  OPENSSL_cleanse(last.data(), last.size());
  return true;
}

// The content in plain into the caller's buffer by the size-and-data rule; a
// size query only finds the length, from the last block.
BOOL DecryptContent(const Envelope& envelope, Bytes key, BYTE* out, DWORD* pcbOut) {
  const auto fail = [pcbOut](auto error) {
    *pcbOut = 0;
    return Fail(error);
  };
  const ContentAlg* alg = FindContentAlg(envelope.contentAlgorithm);
  if (!alg) return fail(NTE_BAD_ALGID);
  EnsureLegacyProviders();
  der::Span params = envelope.parameters, octets;
  const bool octetParams = params.Read(der::kOctetString, &octets) && params.empty();
  Bytes iv;
  if (alg->ivBytes) {
    if (!octetParams || octets.size() != alg->ivBytes) return fail(NTE_BAD_DATA);
    iv = octets.ToVector();
    if (key.size() != alg->keyBytes) return fail(NTE_BAD_DATA);
  } else if (octetParams) {
    // A salted RC4 key: the salt follows the exchanged key bytes.
    key.insert(key.end(), octets.data(), octets.data() + octets.size());
  }
  if (key.empty() || key.size() > 64) return fail(NTE_BAD_DATA);
  if (!envelope.hasContent) return fail(CRYPT_E_ASN1_CORRUPT);
  size_t length = 0;
  bool decrypted = PlainLength(*alg, key, iv, envelope.encryptedContent, &length);
  BOOL ok = FALSE;
  if (decrypted) {
    ok = ReturnFilled(length, out, pcbOut, [&](void* to) {
      decrypted = DecryptInto(*alg, key, iv, envelope.encryptedContent, static_cast<BYTE*>(to));
      if (!decrypted) OPENSSL_cleanse(to, length);
    });
  }
  OPENSSL_cleanse(key.data(), key.size());
  if (!decrypted) {
    *pcbOut = 0;
    return Fail(NTE_BAD_DATA);
  }
  return ok;
}

}  // namespace
}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;
using namespace kv::platform;
namespace der = kv::der;

extern "C" BOOL WINAPI CryptEncryptMessage(PCRYPT_ENCRYPT_MESSAGE_PARA pEncryptPara, DWORD cRecipientCert,
                                           PCCERT_CONTEXT rgpRecipientCert[], const BYTE* pbToBeEncrypted,
                                           DWORD cbToBeEncrypted, BYTE* pbEncryptedBlob, DWORD* pcbEncryptedBlob) {
  if (!pEncryptPara || pEncryptPara->cbSize != sizeof(CRYPT_ENCRYPT_MESSAGE_PARA) || !pcbEncryptedBlob ||
      !(pEncryptPara->dwMsgEncodingType & PKCS_7_ASN_ENCODING) || (cRecipientCert && !rgpRecipientCert) ||
      (cbToBeEncrypted && !pbToBeEncrypted)) {
    if (pcbEncryptedBlob) *pcbEncryptedBlob = 0;
    return Fail(static_cast<DWORD>(E_INVALIDARG));
  }
  if (pEncryptPara->dwInnerContentType != 0 && pEncryptPara->dwInnerContentType != CMSG_DATA) {
    return Fail(CRYPT_E_INVALID_MSG_TYPE);
  }
  EnvelopeHead envelope;
  if (!BuildEnvelopeHead(*pEncryptPara, cRecipientCert, rgpRecipientCert, cbToBeEncrypted,
                         pbEncryptedBlob == nullptr, &envelope)) {
    *pcbEncryptedBlob = 0;
    return FALSE;
  }
  bool encrypted = true;
  const BOOL ok = ReturnFilled(envelope.head.size() + envelope.contentLength, pbEncryptedBlob, pcbEncryptedBlob,
                               [&](void* to) {
                                 BYTE* out = static_cast<BYTE*>(to);
                                 std::memcpy(out, envelope.head.data(), envelope.head.size());
                                 encrypted = EncryptContent(*envelope.alg, envelope.key, envelope.iv, pbToBeEncrypted,
                                                            cbToBeEncrypted, out + envelope.head.size());
                               });
  if (!encrypted) {
    *pcbEncryptedBlob = 0;
    return Fail(NTE_FAIL);
  }
  return ok;
}

extern "C" BOOL WINAPI CryptDecryptMessage(PCRYPT_DECRYPT_MESSAGE_PARA pDecryptPara, const BYTE* pbEncryptedBlob,
                                           DWORD cbEncryptedBlob, BYTE* pbDecrypted, DWORD* pcbDecrypted,
                                           PCCERT_CONTEXT* ppXchgCert) {
  if (ppXchgCert) *ppXchgCert = nullptr;
  // Callers built against headers without dwFlags pass the shorter size.
  constexpr DWORD kShortSize = offsetof(CRYPT_DECRYPT_MESSAGE_PARA, dwFlags);
  if (!pDecryptPara || (pDecryptPara->cbSize != sizeof(CRYPT_DECRYPT_MESSAGE_PARA) &&
                        pDecryptPara->cbSize != kShortSize) ||
      !(pDecryptPara->dwMsgAndCertEncodingType & PKCS_7_ASN_ENCODING) ||
      (pDecryptPara->cCertStore && !pDecryptPara->rghCertStore) || !pbEncryptedBlob || !pcbDecrypted) {
    if (pcbDecrypted) *pcbDecrypted = 0;
    return Fail(static_cast<DWORD>(E_INVALIDARG));
  }
  DWORD error = 0;
  ParsedMessage parsed;
  if (!ParseMessage(pbEncryptedBlob, cbEncryptedBlob, &parsed, &error)) {
    *pcbDecrypted = 0;
    return Fail(error);
  }
  if (!parsed.envelope) {
    *pcbDecrypted = 0;
    return Fail(CRYPT_E_UNEXPECTED_MSG_TYPE);
  }
  const Envelope& envelope = *parsed.envelope;
  Bytes key;
  PCCERT_CONTEXT used = nullptr;
  bool unwrapped = false;
  DWORD keyError = static_cast<DWORD>(CRYPT_E_NO_DECRYPT_CERT);
  for (size_t i = 0; !unwrapped && i < envelope.recipients.size(); ++i) {
    const KeyTransRecipient& recipient = envelope.recipients[i];
    if (recipient.keyAlgorithm != kRsaEncryption) continue;
    PCCERT_CONTEXT cert = FindRecipient(*pDecryptPara, recipient);
    if (!cert) continue;
    HCRYPTPROV prov = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(cert, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &prov, &keySpec, &callerFree)) {
      CertFreeCertificateContext(cert);
      continue;  // a certificate without a usable key is no decryption certificate
    }
    unwrapped = UnwrapKey(prov, keySpec, recipient.encryptedKey, &key);
    if (!unwrapped) keyError = GetLastError();
    if (callerFree) CryptReleaseContext(prov, 0);
    if (unwrapped) {
      used = cert;
    } else {
      CertFreeCertificateContext(cert);
    }
  }
  if (!unwrapped) {
    *pcbDecrypted = 0;
    return Fail(keyError);
  }
  BOOL ok = DecryptContent(envelope, std::move(key), pbDecrypted, pcbDecrypted);
  if (ok && ppXchgCert) {
    *ppXchgCert = used;
  } else {
    DWORD saved = GetLastError();
    CertFreeCertificateContext(used);
    SetLastError(saved);
  }
  return ok;
}
