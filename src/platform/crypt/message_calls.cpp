// Decoding PKCS#7 messages: CryptMsgOpenToDecode, CryptMsgUpdate,
// CryptMsgGetParam and CryptMsgClose for data, SignedData (the
// certificates-only form included) and EnvelopedData (as CMS: recipients
// named by issuer and serial number or by key identifier).
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>

#include "crypt/crypt_objects.h"
#include "der/der_builder.h"
#include "der/der_span.h"
#include "crypt/out_buffer.h"
#include "crypt/pkcs7_parse.h"

namespace kv::platform::crypt {

using der::Bytes;
namespace {

class Message : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::CryptMessage;
  Message() : HandleObject(kKind) {}

  DWORD declaredType = 0;  // dwMsgType: the bytes lack the ContentInfo wrapper
  CMSG_STREAM_INFO stream{};
  bool streaming = false;
  Bytes bytes;
  bool finished = false;
  bool failed = false;
  ParsedMessage parsed;
};

const char* TypeOid(DWORD type) {
  switch (type) {
    case CMSG_DATA: return "1.2.840.113549.1.7.1";
    case CMSG_SIGNED: return "1.2.840.113549.1.7.2";
    case CMSG_ENVELOPED: return "1.2.840.113549.1.7.3";
    case CMSG_SIGNED_AND_ENVELOPED: return "1.2.840.113549.1.7.4";
    case CMSG_HASHED: return "1.2.840.113549.1.7.5";
    case CMSG_ENCRYPTED: return "1.2.840.113549.1.7.6";
    default: return nullptr;
  }
}

std::shared_ptr<Message> LiveMessage(HCRYPTMSG handle) {
  auto msg = FindHandle<Message>(reinterpret_cast<ULONG_PTR>(handle));
  if (!msg) SetLastError(ERROR_INVALID_HANDLE);
  return msg;
}

STACK_OF(X509)* Certificates(const PKCS7* p7) {
  int nid = OBJ_obj2nid(p7->type);
  if (nid == NID_pkcs7_signed && p7->d.sign) return p7->d.sign->cert;
  if (nid == NID_pkcs7_signedAndEnveloped && p7->d.signed_and_enveloped) return p7->d.signed_and_enveloped->cert;
  return nullptr;
}

bool HasCertificates(const PKCS7* p7) {
  int nid = OBJ_obj2nid(p7->type);
  return nid == NID_pkcs7_signed || nid == NID_pkcs7_signedAndEnveloped;
}

// The inner content octets of a data or signed message.
const ASN1_OCTET_STRING* InnerData(const PKCS7* p7) {
  int nid = OBJ_obj2nid(p7->type);
  if (nid == NID_pkcs7_data) return p7->d.data;
  if (nid == NID_pkcs7_signed && p7->d.sign && p7->d.sign->contents &&
      OBJ_obj2nid(p7->d.sign->contents->type) == NID_pkcs7_data) {
    return p7->d.sign->contents->d.data;
  }
  return nullptr;
}

BOOL Finish(Message& msg) {
  Bytes wrapped;
  const Bytes* input = &msg.bytes;
  if (msg.declaredType) {
    der::Builder b;
    b.Open(der::kSequence);
    b.AddOid(TypeOid(msg.declaredType));
    b.Add(der::kContext0, msg.bytes);
    b.Close();
    if (!b.Finish(&wrapped)) {
      msg.failed = true;
      return Fail(static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
    }
    input = &wrapped;
  }
  DWORD error = 0;
  if (!ParseMessage(input->data(), input->size(), &msg.parsed, &error)) {
    msg.failed = true;
    return Fail(error);
  }
  if (msg.streaming && msg.stream.pfnStreamOutput && msg.parsed.p7) {
    const ASN1_OCTET_STRING* data = InnerData(msg.parsed.p7.get());
    if (data && !msg.stream.pfnStreamOutput(msg.stream.pvArg, data->data, static_cast<DWORD>(data->length), TRUE)) {
      return FALSE;
    }
  }
  return TRUE;
}

}  // namespace
}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;
namespace der = kv::der;

extern "C" HCRYPTMSG WINAPI CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                                                 HCRYPTPROV_LEGACY hCryptProv, PCERT_INFO pRecipientInfo,
                                                 PCMSG_STREAM_INFO pStreamInfo) {
  (void)dwFlags;
  (void)hCryptProv;
  (void)pRecipientInfo;
  if (!(dwMsgEncodingType & PKCS_7_ASN_ENCODING)) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  if (dwMsgType != 0 && !TypeOid(dwMsgType)) {
    SetLastError(static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
    return nullptr;
  }
  auto msg = std::make_shared<Message>();
  msg->declaredType = dwMsgType;
  if (pStreamInfo) {
    msg->stream = *pStreamInfo;
    msg->streaming = true;
  }
  return reinterpret_cast<HCRYPTMSG>(AddHandle(msg));
}

extern "C" BOOL WINAPI CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData, BOOL fFinal) {
  auto msg = LiveMessage(hCryptMsg);
  if (!msg) return FALSE;
  if (msg->finished) return Fail(CRYPT_E_MSG_ERROR);
  if (cbData && !pbData) return Fail(static_cast<DWORD>(E_INVALIDARG));
  msg->bytes.insert(msg->bytes.end(), pbData, pbData + cbData);
  if (!fFinal) return TRUE;
  msg->finished = true;
  return Finish(*msg);
}

extern "C" BOOL WINAPI CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex, void* pvData,
                                        DWORD* pcbData) {
  auto msg = LiveMessage(hCryptMsg);
  if (!msg) return FALSE;
  if (!pcbData) return Fail(static_cast<DWORD>(E_INVALIDARG));
  if (!msg->parsed.type) return Fail(msg->failed ? CRYPT_E_INVALID_MSG_TYPE : CRYPT_E_STREAM_MSG_NOT_READY);
  BYTE* out = static_cast<BYTE*>(pvData);
  if (dwParamType == CMSG_TYPE_PARAM) return ReturnDword(msg->parsed.type, out, pcbData);
  if (const Envelope* envelope = msg->parsed.envelope.get()) {
    if (dwParamType != CMSG_RECIPIENT_COUNT_PARAM) return Fail(CRYPT_E_INVALID_MSG_TYPE);
    return ReturnDword(static_cast<DWORD>(envelope->recipients.size()), out, pcbData);
  }
  const PKCS7* p7 = msg->parsed.p7.get();
  switch (dwParamType) {
    case CMSG_CERT_COUNT_PARAM: {
      if (!HasCertificates(p7)) return Fail(CRYPT_E_INVALID_MSG_TYPE);
      STACK_OF(X509)* certs = Certificates(p7);
      return ReturnDword(certs ? static_cast<DWORD>(sk_X509_num(certs)) : 0, out, pcbData);
    }
    case CMSG_CERT_PARAM: {
      if (!HasCertificates(p7)) return Fail(CRYPT_E_INVALID_MSG_TYPE);
      STACK_OF(X509)* certs = Certificates(p7);
      if (!certs || dwIndex >= static_cast<DWORD>(sk_X509_num(certs))) return Fail(CRYPT_E_INVALID_INDEX);
      unsigned char* der = nullptr;
      int len = i2d_X509(sk_X509_value(certs, static_cast<int>(dwIndex)), &der);
      if (len <= 0) return Fail(CRYPT_E_ASN1_ERROR);
      BOOL ok = ReturnBytes(der, static_cast<size_t>(len), out, pcbData);
      OPENSSL_free(der);
      return ok;
    }
    case CMSG_CRL_COUNT_PARAM: {
      if (!HasCertificates(p7)) return Fail(CRYPT_E_INVALID_MSG_TYPE);
      STACK_OF(X509_CRL)* crls = OBJ_obj2nid(p7->type) == NID_pkcs7_signed ? p7->d.sign->crl
                                                                             : p7->d.signed_and_enveloped->crl;
      return ReturnDword(crls ? static_cast<DWORD>(sk_X509_CRL_num(crls)) : 0, out, pcbData);
    }
    case CMSG_SIGNER_COUNT_PARAM: {
      if (OBJ_obj2nid(p7->type) != NID_pkcs7_signed) return Fail(CRYPT_E_INVALID_MSG_TYPE);
      STACK_OF(PKCS7_SIGNER_INFO)* signers = p7->d.sign->signer_info;
      return ReturnDword(signers ? static_cast<DWORD>(sk_PKCS7_SIGNER_INFO_num(signers)) : 0, out, pcbData);
    }
    case CMSG_INNER_CONTENT_TYPE_PARAM: {
      if (OBJ_obj2nid(p7->type) != NID_pkcs7_signed || !p7->d.sign->contents) return Fail(CRYPT_E_INVALID_MSG_TYPE);
      char oid[128];
      int n = OBJ_obj2txt(oid, sizeof(oid), p7->d.sign->contents->type, 1);
      if (n <= 0 || n >= static_cast<int>(sizeof(oid))) return Fail(CRYPT_E_ASN1_ERROR);
      return ReturnBytes(oid, static_cast<size_t>(n) + 1, out, pcbData);
    }
    case CMSG_CONTENT_PARAM: {
      int nid = OBJ_obj2nid(p7->type);
      if (nid != NID_pkcs7_data && nid != NID_pkcs7_signed) return Fail(CRYPT_E_INVALID_MSG_TYPE);
      const ASN1_OCTET_STRING* data = InnerData(p7);
      if (!data) return ReturnBytes(nullptr, 0, out, pcbData);
      return ReturnBytes(data->data, static_cast<size_t>(data->length), out, pcbData);
    }
    default:
      return Fail(CRYPT_E_INVALID_MSG_TYPE);
  }
}

extern "C" BOOL WINAPI CryptMsgClose(HCRYPTMSG hCryptMsg) {
  if (!hCryptMsg) return TRUE;  // closing nothing succeeds, as on Windows
  if (!RemoveHandle(reinterpret_cast<ULONG_PTR>(hCryptMsg), HandleKind::CryptMessage)) {
    return Fail(static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  return TRUE;
}
