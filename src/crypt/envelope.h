// PKCS#7 EnvelopedData through the platform's message services: the content
// algorithm each iAlgorithm value selects, the encryption to a recipient
// list, the decryption with one certificate store, and how the decryption
// service's failures map to result codes.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "crypt/crypt_text.h"
#include "crypt/envelope_recipients.h"
#include "vocabulary/error_codes.h"

namespace kv::crypt {

// 1: DES-CBC, 2: RC4, anything else: three-key triple-DES CBC. RC4 stays on
// offer because the servers on the other side still send and expect it.
const char* ContentAlgorithmOid(LONG iAlgorithm);

// The DER EnvelopedData of `plain` for every recipient. On failure false,
// with the platform's number in `platformError`.
bool EncryptEnvelope(CRecipientList& recipients, LONG iAlgorithm, const SecretBytes& plain, std::vector<BYTE>* message,
                     DWORD* platformError);

// Result code of a failed decryption, from the service's error number.
ErrorCode MapDecryptError(DWORD platformError);

// Decrypts with the private keys of the certificates in `store`. The plain
// bytes are followed by eight zero bytes that are not counted in `size`.
// 0, or the mapped code of the service's failure with the service's number
// in `platformError`.
ErrorCode DecryptEnvelope(HCERTSTORE store, const BYTE* message, DWORD messageSize, SecretBytes* plain, DWORD* size,
                          DWORD* platformError);

}  // namespace kv::crypt
