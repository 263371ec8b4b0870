// The password and PFX file dialogs: 202 (choose a PFX file and type its
// password), 203 (change a PFX file's password), 205 (type one password),
// 206 (choose where to export a PFX file and set its password) and 207
// (choose a PFX file to export for a mobile device).
#pragma once

#include <string>

#include "ui/dialog_model.h"

// Control ids shared by the PFX dialogs.
enum : int {
  IDC_PFX_BROWSE = 301,
  IDC_PFX_PATH = 302,
  IDC_PFX_PASSWORD = 303,
  IDC_PFX_NEW_PASSWORD = 304,  // 203: new password; 206: confirmation
  IDC_PFX_CONFIRM = 305,       // 203: confirmation of the new password
  IDC_PFX_RANGE_LABEL = 306,
};

// What the password dialogs share: the length range, the range label, the
// OK rule and the file browser.
class CPasswordDialogBase : public CKvDialog {
 public:
  CPasswordDialogBase(int resourceId, const char* titleUtf8, int cx, int cy);

  // A reversed range is swapped; a bound of 0 or less takes the default
  // (0 for the minimum, 16 for the maximum).
  void SetPasswordRange(int min, int max);

  int32_t m_minLen;
  int32_t m_maxLen;

 protected:
  void OnEditChange(int id) override;
  // "請設定憑證密碼(英文或數字%d～%d碼)" with the effective minimum (at
  // least 1) and the maximum.
  std::string RangeLabel() const;
  // Password edits of the dialog, and whether each must hold at least one
  // character (203, 206) or only m_minLen (202, 205, 207).
  virtual const int* PasswordEdits(size_t* count) const = 0;
  virtual bool RequiresNonEmpty() const { return false; }
  void UpdateOkButton();
  // Presets a password edit; disables it when `disableWhenValid` and the
  // preset is not empty and long enough.
  void PresetPassword(int id, const std::string& value, bool disableWhenValid);
  // The PFX file browser; true with the chosen full path.
  bool BrowseFile(const std::string& startFolder, std::string* path);
  // The message for a path box that names no existing file.
  std::string MissingFileMessage(const std::string& path) const;
};

// 202, and 207 below: a PFX file and its password. The two differ only in
// layout, in whether a preset password that is long enough is locked (202),
// and in whether OK takes the path typed in the box (202; 207's box is
// read-only).
class CPfxFileDlg : public CPasswordDialogBase {  // 202
 public:
  CPfxFileDlg();
  std::string m_folder, m_fileName, m_password;

 protected:
  struct Variant {
    bool lockValidPreset;
    bool takeTypedPath;
  };
  // Controls are left to the caller.
  CPfxFileDlg(int resourceId, int cy, Variant variant);

  void OnInitDialog() override;
  void OnCommand(int id) override;
  void OnOK() override;
  void OnCancel() override;
  const int* PasswordEdits(size_t* count) const override;

 private:
  Variant m_variant;
};

class CChangePfxPasswdDlg : public CPasswordDialogBase {  // 203
 public:
  CChangePfxPasswdDlg();
  std::string m_folder, m_fileName, m_oldPassword, m_newPassword, m_confirmPassword;

 protected:
  void OnInitDialog() override;
  void OnCommand(int id) override;
  void OnOK() override;
  void OnCancel() override;
  const int* PasswordEdits(size_t* count) const override;
  bool RequiresNonEmpty() const override { return true; }
};

class CPfxPasswordDlg : public CPasswordDialogBase {  // 205
 public:
  CPfxPasswordDlg();
  std::string m_password;
  // Set when the caller's range must also cap the length typed.
  bool m_limitToRange = false;

 protected:
  void OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  const int* PasswordEdits(size_t* count) const override;
};

class CExportPfxDlg : public CPasswordDialogBase {  // 206
 public:
  CExportPfxDlg();
  std::string m_folder, m_fileName, m_password;

 protected:
  void OnInitDialog() override;
  void OnCommand(int id) override;
  void OnOK() override;
  void OnCancel() override;
  const int* PasswordEdits(size_t* count) const override;
  bool RequiresNonEmpty() const override { return true; }

 private:
  // Whether a file can be written at the path box's location; never
  // destroys a file that is already there.
  bool ProbeWritable(const std::string& fullPath, bool* showMessage) const;
};

class CExportMobileDlg : public CPfxFileDlg {  // 207
 public:
  CExportMobileDlg();
};
