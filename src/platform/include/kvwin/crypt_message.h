// Object encoding and decoding, PKCS#10 signing and PKCS#7 message calls of the stand-in.
#pragma once

#include "kvwin/crypt_types.h"

// Structure types of CryptEncodeObject / CryptDecodeObject.
#define X509_CERT ((LPCSTR)1)
#define X509_CERT_TO_BE_SIGNED ((LPCSTR)2)
#define X509_CERT_CRL_TO_BE_SIGNED ((LPCSTR)3)
#define X509_CERT_REQUEST_TO_BE_SIGNED ((LPCSTR)4)
#define X509_NAME_VALUE ((LPCSTR)6)
#define X509_PUBLIC_KEY_INFO ((LPCSTR)8)
#define RSA_CSP_PUBLICKEYBLOB ((LPCSTR)19)
#define X509_UNICODE_NAME ((LPCSTR)20)
#define X509_SEQUENCE_OF_ANY ((LPCSTR)34)
// X509_NAME and X509_EXTENSIONS are also OpenSSL type names, and the
// stand-in and the tests use OpenSSL next to these headers. The two constants
// are therefore defined for the engine's sources (the build sets
// KV_WINCRYPT_STRUCT_NAMES for them) and for any other file that defines it
// and includes no OpenSSL header. Their numbers are 7 and 5 everywhere.
#if defined(KV_WINCRYPT_STRUCT_NAMES) && !defined(OPENSSL_TYPES_H)
#define X509_EXTENSIONS ((LPCSTR)5)
#define X509_NAME ((LPCSTR)7)
#endif

// Object identifiers of the message algorithms.
#ifndef szOID_RSA_SHA384RSA
#define szOID_RSA_SHA384RSA "1.2.840.113549.1.1.12"
#endif
#ifndef szOID_RSA_SHA512RSA
#define szOID_RSA_SHA512RSA "1.2.840.113549.1.1.13"
#endif
#ifndef szOID_OIWSEC_sha1RSASign
#define szOID_OIWSEC_sha1RSASign "1.3.14.3.2.29"
#endif
#ifndef szOID_OIWSEC_desCBC
#define szOID_OIWSEC_desCBC "1.3.14.3.2.7"
#endif
#ifndef szOID_RSA_RC2CBC
#define szOID_RSA_RC2CBC "1.2.840.113549.3.2"
#endif
#ifndef szOID_RSA_RC4
#define szOID_RSA_RC4 "1.2.840.113549.3.4"
#endif
#ifndef szOID_RSA_DES_EDE3_CBC
#define szOID_RSA_DES_EDE3_CBC "1.2.840.113549.3.7"
#endif
#ifndef szOID_NIST_AES128_CBC
#define szOID_NIST_AES128_CBC "2.16.840.1.101.3.4.1.2"
#endif
#ifndef szOID_NIST_AES192_CBC
#define szOID_NIST_AES192_CBC "2.16.840.1.101.3.4.1.22"
#endif
#ifndef szOID_NIST_AES256_CBC
#define szOID_NIST_AES256_CBC "2.16.840.1.101.3.4.1.42"
#endif
#ifndef szOID_RSA_data
#define szOID_RSA_data "1.2.840.113549.1.7.1"
#endif
#ifndef szOID_RSA_signedData
#define szOID_RSA_signedData "1.2.840.113549.1.7.2"
#endif
#ifndef szOID_RSA_envelopedData
#define szOID_RSA_envelopedData "1.2.840.113549.1.7.3"
#endif

// Message types and parameters.
#define CMSG_DATA 1
#define CMSG_SIGNED 2
#define CMSG_ENVELOPED 3
#define CMSG_SIGNED_AND_ENVELOPED 4
#define CMSG_HASHED 5
#define CMSG_ENCRYPTED 6

#define CMSG_TYPE_PARAM 1
#define CMSG_CONTENT_PARAM 2
#define CMSG_BARE_CONTENT_PARAM 3
#define CMSG_INNER_CONTENT_TYPE_PARAM 4
#define CMSG_SIGNER_COUNT_PARAM 5
#define CMSG_SIGNER_INFO_PARAM 6
#define CMSG_SIGNER_CERT_INFO_PARAM 7
#define CMSG_SIGNER_HASH_ALGORITHM_PARAM 8
#define CMSG_SIGNER_AUTH_ATTR_PARAM 9
#define CMSG_SIGNER_UNAUTH_ATTR_PARAM 10
#define CMSG_CERT_COUNT_PARAM 11
#define CMSG_CERT_PARAM 12
#define CMSG_CRL_COUNT_PARAM 13
#define CMSG_CRL_PARAM 14
#define CMSG_ENVELOPE_ALGORITHM_PARAM 15
#define CMSG_RECIPIENT_COUNT_PARAM 17
#define CMSG_RECIPIENT_INDEX_PARAM 18
#define CMSG_RECIPIENT_INFO_PARAM 19
#define CMSG_HASH_ALGORITHM_PARAM 20
#define CMSG_HASH_DATA_PARAM 21
#define CMSG_COMPUTED_HASH_PARAM 22
#define CMSG_ENCRYPT_PARAM 26
#define CMSG_ENCRYPTED_DIGEST 27
#define CMSG_ENCODED_SIGNER 28
#define CMSG_ENCODED_MESSAGE 29
#define CMSG_VERSION_PARAM 30

#define CMSG_BARE_CONTENT_FLAG 0x00000001
#define CMSG_LENGTH_ONLY_FLAG 0x00000002
#define CMSG_DETACHED_FLAG 0x00000004
#define CMSG_AUTHENTICATED_ATTRIBUTES_FLAG 0x00000008
#define CMSG_CRYPT_RELEASE_CONTEXT_FLAG 0x00008000

// CryptAcquireCertificatePrivateKey flags.
#define CRYPT_ACQUIRE_CACHE_FLAG 0x00000001
#define CRYPT_ACQUIRE_USE_PROV_INFO_FLAG 0x00000002
#define CRYPT_ACQUIRE_COMPARE_KEY_FLAG 0x00000004
#define CRYPT_ACQUIRE_NO_HEALING 0x00000008
#define CRYPT_ACQUIRE_SILENT_FLAG 0x00000040
#define CRYPT_ACQUIRE_WINDOW_HANDLE_FLAG 0x00000080
#define CRYPT_ACQUIRE_ALLOW_NCRYPT_KEY_FLAG 0x00010000
#define CRYPT_ACQUIRE_PREFER_NCRYPT_KEY_FLAG 0x00020000
#define CRYPT_ACQUIRE_ONLY_NCRYPT_KEY_FLAG 0x00040000
#define CERT_NCRYPT_KEY_SPEC 0xFFFFFFFF

typedef BOOL(WINAPI* PFN_CMSG_STREAM_OUTPUT)(const void* pvArg, BYTE* pbData, DWORD cbData, BOOL fFinal);

typedef struct _CMSG_STREAM_INFO {
  DWORD cbContent;
  PFN_CMSG_STREAM_OUTPUT pfnStreamOutput;
  void* pvArg;
} CMSG_STREAM_INFO, *PCMSG_STREAM_INFO;

typedef struct _CRYPT_ENCRYPT_MESSAGE_PARA {
  DWORD cbSize;
  DWORD dwMsgEncodingType;
  HCRYPTPROV_LEGACY hCryptProv;
  CRYPT_ALGORITHM_IDENTIFIER ContentEncryptionAlgorithm;
  void* pvEncryptionAuxInfo;
  DWORD dwFlags;
  DWORD dwInnerContentType;
} CRYPT_ENCRYPT_MESSAGE_PARA, *PCRYPT_ENCRYPT_MESSAGE_PARA;

typedef struct _CRYPT_DECRYPT_MESSAGE_PARA {
  DWORD cbSize;
  DWORD dwMsgAndCertEncodingType;
  DWORD cCertStore;
  HCERTSTORE* rghCertStore;
  DWORD dwFlags;
} CRYPT_DECRYPT_MESSAGE_PARA, *PCRYPT_DECRYPT_MESSAGE_PARA;

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
                              BYTE* pbEncoded, DWORD* pcbEncoded);
BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                              DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo);
BOOL WINAPI CryptExportPublicKeyInfo(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey, DWORD dwKeySpec,
                                     DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pInfo, DWORD* pcbInfo);
BOOL WINAPI CryptSignCertificate(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey, DWORD dwKeySpec,
                                 DWORD dwCertEncodingType, const BYTE* pbEncodedToBeSigned, DWORD cbEncodedToBeSigned,
                                 PCRYPT_ALGORITHM_IDENTIFIER pSignatureAlgorithm, const void* pvHashAuxInfo,
                                 BYTE* pbSignature, DWORD* pcbSignature);
BOOL WINAPI CryptSignAndEncodeCertificate(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey, DWORD dwKeySpec,
                                          DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
                                          PCRYPT_ALGORITHM_IDENTIFIER pSignatureAlgorithm, const void* pvHashAuxInfo,
                                          BYTE* pbEncoded, DWORD* pcbEncoded);

BOOL WINAPI CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* pvParameters,
                                              HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                              DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey);

HCRYPTMSG WINAPI CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                                      HCRYPTPROV_LEGACY hCryptProv, PCERT_INFO pRecipientInfo,
                                      PCMSG_STREAM_INFO pStreamInfo);
BOOL WINAPI CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData, BOOL fFinal);
BOOL WINAPI CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex, void* pvData, DWORD* pcbData);
BOOL WINAPI CryptMsgClose(HCRYPTMSG hCryptMsg);

BOOL WINAPI CryptEncryptMessage(PCRYPT_ENCRYPT_MESSAGE_PARA pEncryptPara, DWORD cRecipientCert,
                                PCCERT_CONTEXT rgpRecipientCert[], const BYTE* pbToBeEncrypted,
                                DWORD cbToBeEncrypted, BYTE* pbEncryptedBlob, DWORD* pcbEncryptedBlob);
BOOL WINAPI CryptDecryptMessage(PCRYPT_DECRYPT_MESSAGE_PARA pDecryptPara, const BYTE* pbEncryptedBlob,
                                DWORD cbEncryptedBlob, BYTE* pbDecrypted, DWORD* pcbDecrypted,
                                PCCERT_CONTEXT* ppXchgCert);

#ifdef __cplusplus
}
#endif
