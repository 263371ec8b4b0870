// RSA keys in the CryptoAPI blob layouts, converted to and from OpenSSL keys.
//
// PUBLICKEYBLOB: BLOBHEADER, RSAPUBKEY ("RSA1", bit length, public exponent),
// modulus. PRIVATEKEYBLOB: BLOBHEADER, RSAPUBKEY ("RSA2"), modulus, prime1,
// prime2, exponent1, exponent2, coefficient, private exponent. Every integer
// is least significant byte first; the modulus and private exponent take
// bitlen/8 bytes, the other five bitlen/16 bytes.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "der/der_span.h"
#include "ossl/owned.h"
#include "ossl/providers.h"

namespace kv::platform::crypt {

// Fills `blob` with the public (or, with `includePrivate`, private) blob of an
// RSA key; false when the key is not RSA or lacks the private parts.
// `bitLen`, when not 0, is the bit length the key was imported with (a blob
// may declare more bits than its modulus has set; Windows gives the key back
// as it came), and never less than the modulus's own.
bool RsaToBlob(EVP_PKEY* pkey, ALG_ID algId, bool includePrivate, std::vector<BYTE>* blob, DWORD bitLen = 0);

// Parses a PUBLICKEYBLOB or PRIVATEKEYBLOB. On failure returns null and sets
// *error to the CryptImportKey error (NTE_BAD_VER, NTE_BAD_DATA, NTE_BAD_TYPE...).
// `bitLen`, when given, receives the blob's declared bit length.
PkeyPtr RsaFromBlob(const BYTE* data, size_t size, ALG_ID* algId, bool* isPrivate, DWORD* error,
                    DWORD* bitLen = nullptr);

// The PUBLICKEYBLOB (CALG_RSA_KEYX) of an RSAPublicKey's DER; false with the
// CryptDecodeObject error (CRYPT_E_ASN1_*) when it is not one.
bool RsaPublicKeyToBlob(der::Span rsaPublicKey, std::vector<BYTE>* blob, DWORD* error);

// The RSA key of a certificate's public-key information (without OpenSSL's
// certificate parser, whose key decoders cost more than most calls that need
// the key); null with NTE_BAD_ALGID for another algorithm, or the decoding
// error.
PkeyPtr RsaFromPublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info, DWORD* error);

// The key of a two-prime RSAPrivateKey's DER (what i2d_PrivateKey writes for
// RSA), built without OpenSSL's decoders; null when the DER is not one.
PkeyPtr RsaFromPrivateKeyDer(const BYTE* der, size_t size);

// The same key as a PRIVATEKEYBLOB of `algId`, read from a two-prime
// RSAPrivateKey's DER without OpenSSL's decoders; false when the DER is not
// one or a number does not fit the blob's layout.
bool RsaPrivateDerToBlob(der::Span rsaPrivateKey, ALG_ID algId, std::vector<BYTE>* blob);

// The RSAPrivateKey DER of a PRIVATEKEYBLOB, written without OpenSSL's
// encoders (the bytes i2d_PrivateKey writes for the same key); false when the
// blob is not a private RSA blob. The caller cleanses `der`.
bool RsaPrivateBlobToDer(const BYTE* blob, size_t size, std::vector<BYTE>* der);

// The RSAPrivateKey DER of an OpenSSL RSA key, by way of its blob; false when
// the key does not fit a blob (the caller then asks OpenSSL).
bool RsaToPrivateKeyDer(EVP_PKEY* pkey, std::vector<BYTE>* der);

// Size of the modulus in bits; 0 when not RSA.
DWORD RsaBits(EVP_PKEY* pkey);

// Big-endian bytes <-> little-endian, the order Windows returns integers in.
inline void ReverseBytes(BYTE* data, size_t size) {
  for (size_t i = 0, j = size; i + 1 < j; ++i, --j) {
    BYTE t = data[i];
    data[i] = data[j - 1];
    data[j - 1] = t;
  }
}

}  // namespace kv::platform::crypt
