// The stand-in's owning pointers for OpenSSL objects: each object type's
// free function is named once here, and every call of the stand-in holds
// OpenSSL objects through these.
#pragma once

#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>

namespace kv::platform {

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
  void operator()(T* object) const { Free(object); }
};

template <typename T, void (*Free)(T*)>
using OpenSslPtr = std::unique_ptr<T, OpenSslFree<T, Free>>;

using PkeyPtr = OpenSslPtr<EVP_PKEY, EVP_PKEY_free>;
using PkeyCtxPtr = OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using CipherCtxPtr = OpenSslPtr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using MdCtxPtr = OpenSslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using X509Ptr = OpenSslPtr<X509, X509_free>;
using Pkcs7Ptr = OpenSslPtr<PKCS7, PKCS7_free>;
using CmsPtr = OpenSslPtr<CMS_ContentInfo, CMS_ContentInfo_free>;
using Pkcs12Ptr = OpenSslPtr<PKCS12, PKCS12_free>;
// Big numbers may hold private key parts: cleared before they are freed.
using BnPtr = OpenSslPtr<BIGNUM, BN_clear_free>;

// A shared, reference-counted EVP_PKEY (EVP_PKEY_up_ref semantics).
using SharedPkey = std::shared_ptr<EVP_PKEY>;
inline SharedPkey ShareKey(EVP_PKEY* owned) { return SharedPkey(owned, EVP_PKEY_free); }

}  // namespace kv::platform
