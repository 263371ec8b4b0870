// The launch routines the engine operations call to ask the user: each
// creates its dialog, fills it, runs it and reads it back. Results: 0
// (ERR_SUCCESS) with the caller's strings updated, ERR_USER_CANCEL (5070)
// leaving them as they were, ERR_MEM_ALLOC (5002) when the dialog cannot be
// created or shown; the password-change dialog also ERR_PASSWORD_MISMATCH
// (5209). An empty file name is first replaced by "*.pfx", in the caller's
// string too.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "vocabulary/error_codes.h"
#include "ui/cert_dialogs.h"

namespace kv::ui {

// 202: an existing PFX file and its password.
ErrorCode AskPfxFile(std::string& folder, std::string& fileName, std::string& password, LONG minLen, LONG maxLen);
// 203: an existing PFX file, its old password and a new one typed twice.
// On 5209 the new password is left as it was.
ErrorCode AskChangePfxPassword(std::string& folder, std::string& fileName, std::string& oldPassword,
                               std::string& newPassword, LONG minLen, LONG maxLen);
// 205: one password, with the default length range.
ErrorCode AskPfxPassword(std::string& password);
// 205 for a password that will protect exported key material: the page's
// length range applies (shortest for the OK button, longest as the limit).
ErrorCode AskPfxPassword(std::string& password, LONG minLen, LONG maxLen);
// 206: a writable folder for a new PFX file and its password typed twice.
ErrorCode AskExportPfx(std::string& folder, std::string& fileName, std::string& password, LONG minLen, LONG maxLen);
// 207: an existing PFX file and its password, for the mobile export.
ErrorCode AskExportMobile(std::string& folder, std::string& fileName, std::string& password, LONG minLen,
                          LONG maxLen);
// 204: the index of the chosen candidate. No candidates: ERR_CERT_NOT_FOUND
// (5010) without showing anything.
ErrorCode ChooseCertificate(const std::vector<CertChooserRow>& candidates, int* chosen);
// 201: 0 when the user confirms the signature.
ErrorCode ConfirmSignature(const std::string& content, const std::string& serial, const std::string& commonName,
                           const std::string& notBefore, const std::string& notAfter);

// The open-file dialog of HashFile (no owner, title "請選擇檔案", every
// file): 0 with the chosen full path; 5070 for anything else, including a
// dialog that cannot be shown.
ErrorCode AskFileToHash(std::string* path);

}  // namespace kv::ui
