// Helpers for the provider, encoding and message tests: one RSA key made by
// OpenSSL per process (key generation is slow under the sanitizers), its
// PRIVATEKEYBLOB built independently of the code under test, and files.
#pragma once

#include <windows.h>
#include <wincrypt.h>


#include <string>
#include <vector>

// Declared rather than included so that tests can use every wincrypt name.
typedef struct evp_pkey_st EVP_PKEY;

namespace kv::test::crypt {

// A 1024-bit key pair shared by the tests of this process (index 0 or 1).
EVP_PKEY* SharedTestKey(int index = 0);

// The key's PRIVATEKEYBLOB (or PUBLICKEYBLOB) laid out here from OpenSSL's
// numbers, as Windows documents it.
std::vector<BYTE> ExpectedBlob(EVP_PKEY* key, ALG_ID algId, bool includePrivate);

// Big-endian bytes of an RSA component (OSSL_PKEY_PARAM_RSA_*).
std::vector<BYTE> RsaComponent(EVP_PKEY* key, const char* name);

// Imports SharedTestKey(index) into a new container `name` in `slot`.
HCRYPTPROV ProviderWithKey(const char* name, DWORD slot, DWORD flags = CRYPT_EXPORTABLE, int index = 0);

// A self-signed certificate for SharedTestKey(index), DER; with a
// subjectKeyIdentifier extension when `subjectKeyId` is given ("hash" for
// SHA-1 of the key's bits, or hex octets).
std::vector<BYTE> SelfSignedCert(EVP_PKEY* key, const char* commonName, const char* subjectKeyId = nullptr);

// PEM files for the openssl command line.
std::string WritePrivateKeyPem(EVP_PKEY* key, const std::string& path);
std::string WriteCertPem(const std::vector<BYTE>& der, const std::string& path);

// DER of the key's RSAPublicKey (the bits of a SubjectPublicKeyInfo).
std::vector<BYTE> RsaPublicKeyDer(EVP_PKEY* key);

// What CryptGetKeyParam(KP_PERMISSIONS) gives for `key`; every right an
// imported or generated key pair has.
DWORD Permissions(HCRYPTKEY key);
constexpr DWORD kPairPermissions = CRYPT_MAC | CRYPT_WRITE | CRYPT_READ | CRYPT_DECRYPT | CRYPT_ENCRYPT;

// CryptEncodeObject's two calls (size, then data) with the X.509/PKCS#7
// encodings; a failure is reported to the running test.
std::vector<BYTE> EncodeObject(LPCSTR type, const void* info);

std::vector<BYTE> Bytes(const std::string& s);
std::string Hex(const std::vector<BYTE>& bytes);
std::vector<BYTE> Reversed(std::vector<BYTE> bytes);

}  // namespace kv::test::crypt
