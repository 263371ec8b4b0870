// What the PFX file operations (import, query, export, password change,
// mobile export) share: the full-name rule for a folder and file name, the
// loading of a PFX file with the engine's error mapping, the checks a
// certificate must pass before its key is used, and the check of a new
// password against the code page.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "vocabulary/error_codes.h"

class CCapiEngine;
class CCertContextList;
class CPfxFile;

namespace kv::keys {

// Flags word bits of the PFX operations.
inline constexpr LONG kImportKeyFlags = 0x3;      // CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED
inline constexpr LONG kExportWithChain = 0x200;
inline constexpr LONG kExportThenDelete = 0x1000;
inline constexpr LONG kMobileUseSigner = 0x4000;
// PFXExportCertStore flags of the export and the password change.
inline constexpr DWORD kPfxExportKeys = EXPORT_PRIVATE_KEYS | REPORT_NOT_ABLE_TO_EXPORT_PRIVATE_KEY;
// PFX files are always reloaded with exportable keys by the password change
// and the mobile export, which write the keys out again.
inline constexpr LONG kLoadExportable = CRYPT_EXPORTABLE;

// The folder, a backslash when the folder is longer than three characters
// (a drive root such as C:\ already ends in one), then the file name.
std::string PfxFullName(const std::string& folder, const std::string& fileName);

// Whether a platform error says that the key store cannot be written or read
// (full disk, read-only or damaged storage), as opposed to a bad file or key.
bool IsKeyStorageFailure(DWORD error);

// Loads `fullName` into `pfx`; the engine receives the loader's platform
// error, and a key access the platform denies becomes ERR_ACCESS_DENIED when
// `mapAccessDenied`. A file whose password opened it but whose keys the
// provider could not store gives ERR_CSP_ACQUIRE rather than a wrong
// password. Returns the code the operation ends with (0: loaded).
ErrorCode LoadPfx(CCapiEngine& engine, CPfxFile& pfx, const std::string& fullName, const std::string& password,
                  LONG flags, bool mapAccessDenied);

// Whether the certificate has a private key the platform will hand out; the
// provider is cached on the certificate context (CRYPT_ACQUIRE_CACHE_FLAG)
// and freed with it. `error` receives the platform error on failure.
bool AcquireKey(PCCERT_CONTEXT context, HCRYPTPROV* provider, DWORD* keySpec, DWORD* error);

// Whether the certificate's key usage holds every bit of `required`
// (0 or negative: nothing is required).
bool HasKeyUsage(PCCERT_CONTEXT context, LONG required);

// Ends an operation whose new password the code page cannot carry
// (kv::CodePageCarries is false: the password would silently become another
// one the user never typed; passwords that open a file keep their narrowing):
// ERR_UNICODE with ERROR_NO_UNICODE_TRANSLATION.
ErrorCode RefuseNewPassword(CCapiEngine& engine);

// One certificate of a search's matches: the only one, or the user's choice
// in the certificate chooser when there are several or `alwaysAsk`. 5010 when
// there is none; the chooser's code when it is cancelled or cannot be shown.
ErrorCode PickCertificate(const CCertContextList& matches, bool alwaysAsk, size_t* chosen);

}  // namespace kv::keys
