// Launch routines: fill a dialog from the caller's values, run it, and give
// back what the user entered.
#include "ui/dialog_launch.h"

#include <memory>
#include <new>

#include <commdlg.h>

#include "vocabulary/text.h"
#include "ui/dialog_renderer.h"
#include "ui/dialog_texts.h"
#include "ui/pfx_dialogs.h"

namespace kv::ui {
namespace {

// Runs a dialog: 0 on IDOK, 5070 on IDCANCEL, 5002 when it cannot be shown.
ErrorCode Run(CKvDialog& dialog) {
  INT_PTR result = dialog.DoModal();
  if (result == IDOK) return ERR_SUCCESS;
  if (result == IDCANCEL) return ERR_USER_CANCEL;
  return ERR_MEM_ALLOC;
}

void DefaultFileName(std::string& fileName) {
  if (fileName.empty()) fileName = text::kDefaultPfxName;
}

template <typename Dialog>
ErrorCode AskFileAndPassword(std::string& folder, std::string& fileName, std::string& password, LONG minLen,
                             LONG maxLen) {
  std::unique_ptr<Dialog> dialog(new (std::nothrow) Dialog());
  if (!dialog) return ERR_MEM_ALLOC;
  DefaultFileName(fileName);
  dialog->m_folder = folder;
  dialog->m_fileName = fileName;
  dialog->m_password = password;
  dialog->SetPasswordRange(minLen, maxLen);
  ErrorCode code = Run(*dialog);
  if (code != ERR_SUCCESS) return code;
  folder = dialog->m_folder;
  fileName = dialog->m_fileName;
  password = dialog->m_password;
  return ERR_SUCCESS;
}

}  // namespace

ErrorCode AskPfxFile(std::string& folder, std::string& fileName, std::string& password, LONG minLen, LONG maxLen) {
  return AskFileAndPassword<CPfxFileDlg>(folder, fileName, password, minLen, maxLen);
}

ErrorCode AskExportPfx(std::string& folder, std::string& fileName, std::string& password, LONG minLen, LONG maxLen) {
  return AskFileAndPassword<CExportPfxDlg>(folder, fileName, password, minLen, maxLen);
}

ErrorCode AskExportMobile(std::string& folder, std::string& fileName, std::string& password, LONG minLen,
                          LONG maxLen) {
  return AskFileAndPassword<CExportMobileDlg>(folder, fileName, password, minLen, maxLen);
}

ErrorCode AskChangePfxPassword(std::string& folder, std::string& fileName, std::string& oldPassword,
                               std::string& newPassword, LONG minLen, LONG maxLen) {
  std::unique_ptr<CChangePfxPasswdDlg> dialog(new (std::nothrow) CChangePfxPasswdDlg());
  if (!dialog) return ERR_MEM_ALLOC;
  DefaultFileName(fileName);
  dialog->m_folder = folder;
  dialog->m_fileName = fileName;
  dialog->m_oldPassword = oldPassword;
  dialog->m_newPassword = newPassword;
  dialog->m_confirmPassword = newPassword;
  dialog->SetPasswordRange(minLen, maxLen);
  ErrorCode code = Run(*dialog);
  if (code != ERR_SUCCESS) return code;
  // Byte-wise and case-sensitive, as typed.
  if (dialog->m_newPassword != dialog->m_confirmPassword) return ERR_PASSWORD_MISMATCH;
  folder = dialog->m_folder;
  fileName = dialog->m_fileName;
  oldPassword = dialog->m_oldPassword;
  newPassword = dialog->m_newPassword;
  return ERR_SUCCESS;
}

ErrorCode AskPfxPassword(std::string& password) {
  std::unique_ptr<CPfxPasswordDlg> dialog(new (std::nothrow) CPfxPasswordDlg());
  if (!dialog) return ERR_MEM_ALLOC;
  dialog->m_password = password;
  ErrorCode code = Run(*dialog);
  if (code != ERR_SUCCESS) return code;
  password = dialog->m_password;
  return ERR_SUCCESS;
}

ErrorCode AskPfxPassword(std::string& password, LONG minLen, LONG maxLen) {
  std::unique_ptr<CPfxPasswordDlg> dialog(new (std::nothrow) CPfxPasswordDlg());
  if (!dialog) return ERR_MEM_ALLOC;
  dialog->m_password = password;
  dialog->SetPasswordRange(minLen, maxLen);
  dialog->m_limitToRange = true;
  ErrorCode code = Run(*dialog);
  if (code != ERR_SUCCESS) return code;
  password = dialog->m_password;
  return ERR_SUCCESS;
}

ErrorCode ChooseCertificate(const std::vector<CertChooserRow>& candidates, int* chosen) {
  if (candidates.empty()) return ERR_CERT_NOT_FOUND;
  std::unique_ptr<CCertChooserDlg> dialog(new (std::nothrow) CCertChooserDlg());
  if (!dialog) return ERR_MEM_ALLOC;
  dialog->m_candidates = &candidates;
  ErrorCode code = Run(*dialog);
  if (code != ERR_SUCCESS) return code;
  if (dialog->m_selected < 0 || static_cast<size_t>(dialog->m_selected) >= candidates.size()) return ERR_USER_CANCEL;
  *chosen = dialog->m_selected;
  return ERR_SUCCESS;
}

ErrorCode ConfirmSignature(const std::string& content, const std::string& serial, const std::string& commonName,
                           const std::string& notBefore, const std::string& notAfter) {
  std::unique_ptr<CSignConfirmDlg> dialog(new (std::nothrow) CSignConfirmDlg());
  if (!dialog) return ERR_MEM_ALLOC;
  dialog->m_content = content;
  dialog->m_serial = serial;
  dialog->m_commonName = commonName;
  dialog->m_notBefore = notBefore;
  dialog->m_notAfter = notAfter;
  return Run(*dialog);
}

ErrorCode AskFileToHash(std::string* path) {
  std::string chosen;
  if (!ChooseFileToOpen(kv::Utf8ToNarrow(text::kHashFileTitle), text::kHashFileFilter, std::string(), nullptr,
                        OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOVALIDATE, &chosen, "*.*"))
    return ERR_USER_CANCEL;
  *path = chosen;
  return ERR_SUCCESS;
}

}  // namespace kv::ui
