// Whether an issued certificate is genuinely its issuer's: the issuer is
// looked for by name among the certificates delivered with it and in the
// user's "CA" and "ROOT" stores, and the certificate's signature must verify
// under one of their keys before anything is installed.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "vocabulary/error_codes.h"

namespace kv::keys {

// ERR_SUCCESS when a certificate named as `cert`'s issuer (in `delivered`,
// "CA" or "ROOT"; a self-issued certificate may be its own) signed it;
// ERR_CERT_ISSUER_NOT_FOUND when none is named so, ERR_CERT_BAD_SIGNATURE
// when none of them signed it, each with the platform error in *error.
ErrorCode CheckIssuerSignature(PCCERT_CONTEXT cert, const std::vector<PCCERT_CONTEXT>& delivered, DWORD* error);

}  // namespace kv::keys
