// Behaviour of the password and PFX file dialogs (202, 203, 205, 206, 207):
// start values, OK enabling, browsing, the checks made on OK and the
// messages they show.
#include "ui/pfx_dialogs.h"

#include <commdlg.h>
#include <shlwapi.h>
#include <windows.h>

#include <cstdio>

#include "codec/byte_buffer.h"
#include "vocabulary/pfx_password_range.h"
#include "vocabulary/text.h"
#include "ui/common_dialogs.h"
#include "ui/dialog_renderer.h"
#include "ui/dialog_texts.h"
#include "ui/pfx_path.h"

namespace t = kv::ui::text;
using kv::Utf8ToNarrow;
using kv::ui::CharCount;
using kv::ui::PathBoxText;
using kv::ui::SplitPath;

namespace {

int CharLength(const std::string& s) { return static_cast<int>(CharCount(s)); }

bool FileExists(const std::string& path) { return !path.empty() && PathFileExistsA(path.c_str()) != FALSE; }

}  // namespace

// --- shared -----------------------------------------------------------------

CPasswordDialogBase::CPasswordDialogBase(int resourceId, const char* titleUtf8, int cx, int cy)
    : CKvDialog(resourceId, titleUtf8, cx, cy), m_minLen(kDefaultPwdMinLen), m_maxLen(kDefaultPwdMaxLen) {}

void CPasswordDialogBase::SetPasswordRange(int min, int max) {
  if (max < min) {
    int swap = min;
    min = max;
    max = swap;
  }
  m_minLen = min <= 0 ? kDefaultPwdMinLen : min;
  m_maxLen = max <= 0 ? kDefaultPwdMaxLen : max;
}

std::string CPasswordDialogBase::RangeLabel() const {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, t::kRangeLabelFormat, m_minLen > 0 ? m_minLen : 1, m_maxLen);
  return Utf8ToNarrow(buffer);
}

void CPasswordDialogBase::UpdateOkButton() {
  size_t count = 0;
  const int* edits = PasswordEdits(&count);
  int needed = RequiresNonEmpty() ? (m_minLen > 1 ? m_minLen : 1) : m_minLen;
  bool ok = true;
  for (size_t i = 0; i < count; ++i)
    if (CharLength(Text(edits[i])) < needed) ok = false;
  Enable(IDOK, ok);
}

void CPasswordDialogBase::OnEditChange(int id) {
  size_t count = 0;
  const int* edits = PasswordEdits(&count);
  for (size_t i = 0; i < count; ++i)
    if (edits[i] == id) UpdateOkButton();
}

void CPasswordDialogBase::PresetPassword(int id, const std::string& value, bool disableWhenValid) {
  SetText(id, value);
  if (disableWhenValid && !value.empty() && CharLength(value) >= m_minLen) Enable(id, false);
}

bool CPasswordDialogBase::BrowseFile(const std::string& startFolder, std::string* path) {
  std::string title = Utf8ToNarrow(t::kBrowseFileTitle);
  std::string filter = Utf8ToNarrow(t::kBrowseFileFilter);
  return kv::ui::ChooseFileToOpen(title, filter, startFolder, m_hWnd,
                                  OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOVALIDATE, path);
}

std::string CPasswordDialogBase::MissingFileMessage(const std::string& path) const {
  return Utf8ToNarrow(t::kFileMissingPrefix) + (path.empty() ? Utf8ToNarrow(t::kUnspecified) : path) +
         Utf8ToNarrow(t::kFileMissingSuffix);
}

// --- 202: choose a PFX file and type its password -----------------------------

CPfxFileDlg::CPfxFileDlg(int resourceId, int cy, Variant variant)
    : CPasswordDialogBase(resourceId, t::kPfxFileTitle, 260, cy), m_variant(variant) {}

CPfxFileDlg::CPfxFileDlg() : CPfxFileDlg(202, 112, {true, true}) {
  AddControl(kStaticId, ControlKind::kStatic, t::kPathLabel, {7, 7, 180, 10});
  DialogControl& path = AddControl(IDC_PFX_PATH, ControlKind::kEdit, "", {7, 19, 190, 30});
  path.multiline = true;
  AddControl(IDC_PFX_BROWSE, ControlKind::kButton, t::kBrowse, {203, 19, 50, 14});
  AddControl(kStaticId, ControlKind::kStatic, t::kPasswordLabel, {7, 57, 180, 10});
  AddControl(IDC_PFX_PASSWORD, ControlKind::kEdit, "", {7, 69, 130, 14}).password = true;
  AddControl(IDOK, ControlKind::kButton, t::kOk, {142, 92, 52, 14}).defaultButton = true;
  AddControl(IDCANCEL, ControlKind::kButton, t::kCancel, {201, 92, 52, 14});
}

const int* CPfxFileDlg::PasswordEdits(size_t* count) const {
  static const int kEdits[] = {IDC_PFX_PASSWORD};
  *count = 1;
  return kEdits;
}

void CPfxFileDlg::OnInitDialog() {
  SetText(IDC_PFX_PATH, PathBoxText(m_folder, m_fileName));
  SetLimit(IDC_PFX_PASSWORD, m_maxLen);
  PresetPassword(IDC_PFX_PASSWORD, m_password, m_variant.lockValidPreset);
  UpdateOkButton();
}

void CPfxFileDlg::OnCommand(int id) {
  if (id != IDC_PFX_BROWSE) return;
  std::string path;
  if (!BrowseFile(std::string(), &path)) return;
  SplitPath(path, &m_folder, &m_fileName);
  SetText(IDC_PFX_PATH, PathBoxText(m_folder, m_fileName));
}

void CPfxFileDlg::OnOK() {
  m_password = Text(IDC_PFX_PASSWORD);
  std::string path = Text(IDC_PFX_PATH);
  if (!FileExists(path)) {
    ShowError(MissingFileMessage(path));
    return;
  }
  if (m_variant.takeTypedPath) SplitPath(path, &m_folder, &m_fileName);
  EndDialog(IDOK);
}

void CPfxFileDlg::OnCancel() {
  m_fileName.clear();
  m_password.clear();
  EndDialog(IDCANCEL);
}

// --- 203: change a PFX file's password ----------------------------------------

CChangePfxPasswdDlg::CChangePfxPasswdDlg() : CPasswordDialogBase(203, t::kChangePasswdTitle, 260, 160) {
  AddControl(kStaticId, ControlKind::kStatic, t::kPathLabel, {7, 7, 180, 10});
  DialogControl& path = AddControl(IDC_PFX_PATH, ControlKind::kEdit, "", {7, 19, 190, 30});
  path.multiline = true;
  path.readOnly = true;
  AddControl(IDC_PFX_BROWSE, ControlKind::kButton, t::kBrowse, {203, 19, 50, 14});
  AddControl(IDC_PFX_RANGE_LABEL, ControlKind::kStatic, t::kOldPasswordLabel, {7, 56, 246, 10});
  AddControl(IDC_PFX_PASSWORD, ControlKind::kEdit, "", {7, 68, 130, 14}).password = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kNewPasswordLabel, {7, 88, 120, 10});
  AddControl(IDC_PFX_NEW_PASSWORD, ControlKind::kEdit, "", {7, 100, 130, 14}).password = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kConfirmNewLabel, {7, 120, 120, 10});
  AddControl(IDC_PFX_CONFIRM, ControlKind::kEdit, "", {7, 132, 130, 14}).password = true;
  AddControl(IDOK, ControlKind::kButton, t::kOk, {142, 140, 52, 14}).defaultButton = true;
  AddControl(IDCANCEL, ControlKind::kButton, t::kCancel, {201, 140, 52, 14});
}

const int* CChangePfxPasswdDlg::PasswordEdits(size_t* count) const {
  static const int kEdits[] = {IDC_PFX_PASSWORD, IDC_PFX_NEW_PASSWORD, IDC_PFX_CONFIRM};
  *count = 3;
  return kEdits;
}

void CChangePfxPasswdDlg::OnInitDialog() {
  std::string path = PathBoxText(m_folder, m_fileName);
  SetText(IDC_PFX_PATH, path);
  if (FileExists(path)) Enable(IDC_PFX_BROWSE, false);
  SetLimit(IDC_PFX_PASSWORD, m_maxLen);
  SetLimit(IDC_PFX_NEW_PASSWORD, m_maxLen);
  SetLimit(IDC_PFX_CONFIRM, m_maxLen);
  PresetPassword(IDC_PFX_PASSWORD, m_oldPassword, true);
  PresetPassword(IDC_PFX_NEW_PASSWORD, m_newPassword, true);
  PresetPassword(IDC_PFX_CONFIRM, m_confirmPassword, true);
  SetText(IDC_PFX_RANGE_LABEL, RangeLabel());
  UpdateOkButton();
}

void CChangePfxPasswdDlg::OnCommand(int id) {
  if (id != IDC_PFX_BROWSE) return;
  std::string path;
  if (!BrowseFile(m_folder, &path)) return;
  SplitPath(path, &m_folder, &m_fileName);
  SetText(IDC_PFX_PATH, PathBoxText(m_folder, m_fileName));
}

void CChangePfxPasswdDlg::OnOK() {
  m_oldPassword = Text(IDC_PFX_PASSWORD);
  m_newPassword = Text(IDC_PFX_NEW_PASSWORD);
  m_confirmPassword = Text(IDC_PFX_CONFIRM);
  std::string path = Text(IDC_PFX_PATH);
  if (!FileExists(path)) {
    ShowError(MissingFileMessage(path));
    return;
  }
  EndDialog(IDOK);
}

void CChangePfxPasswdDlg::OnCancel() {
  m_folder.clear();
  m_fileName.clear();
  m_oldPassword.clear();
  m_newPassword.clear();
  m_confirmPassword.clear();
  EndDialog(IDCANCEL);
}

// --- 205: type one password -----------------------------------------------------

CPfxPasswordDlg::CPfxPasswordDlg() : CPasswordDialogBase(205, t::kPasswordTitle, 200, 62) {
  AddControl(kStaticId, ControlKind::kStatic, t::kPasswordLabel, {7, 7, 180, 10});
  AddControl(IDC_PFX_PASSWORD, ControlKind::kEdit, "", {7, 19, 186, 14}).password = true;
  AddControl(IDOK, ControlKind::kButton, t::kOk, {82, 41, 52, 14}).defaultButton = true;
  AddControl(IDCANCEL, ControlKind::kButton, t::kCancel, {141, 41, 52, 14});
}

const int* CPfxPasswordDlg::PasswordEdits(size_t* count) const {
  static const int kEdits[] = {IDC_PFX_PASSWORD};
  *count = 1;
  return kEdits;
}

void CPfxPasswordDlg::OnInitDialog() {
  if (m_limitToRange) SetLimit(IDC_PFX_PASSWORD, m_maxLen);
  SetText(IDC_PFX_PASSWORD, m_password);
  UpdateOkButton();
}

void CPfxPasswordDlg::OnOK() {
  m_password = Text(IDC_PFX_PASSWORD);
  EndDialog(IDOK);
}

void CPfxPasswordDlg::OnCancel() {
  m_password.clear();
  EndDialog(IDCANCEL);
}

// --- 206: choose where to export a PFX file and set its password -------------

CExportPfxDlg::CExportPfxDlg() : CPasswordDialogBase(206, t::kPfxFileTitle, 260, 140) {
  AddControl(kStaticId, ControlKind::kStatic, t::kExportPathLabel, {7, 7, 190, 10});
  DialogControl& path = AddControl(IDC_PFX_PATH, ControlKind::kEdit, "", {7, 19, 190, 30});
  path.multiline = true;
  path.readOnly = true;
  AddControl(IDC_PFX_BROWSE, ControlKind::kButton, t::kBrowse, {203, 19, 50, 14});
  AddControl(IDC_PFX_RANGE_LABEL, ControlKind::kStatic, t::kRangeLabelTemplate, {7, 56, 246, 10});
  AddControl(IDC_PFX_PASSWORD, ControlKind::kEdit, "", {7, 68, 130, 14}).password = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kConfirmLabel, {7, 88, 180, 10});
  AddControl(IDC_PFX_NEW_PASSWORD, ControlKind::kEdit, "", {7, 100, 130, 14}).password = true;
  AddControl(IDOK, ControlKind::kButton, t::kOk, {142, 120, 52, 14}).defaultButton = true;
  AddControl(IDCANCEL, ControlKind::kButton, t::kCancel, {201, 120, 52, 14});
}

const int* CExportPfxDlg::PasswordEdits(size_t* count) const {
  static const int kEdits[] = {IDC_PFX_PASSWORD, IDC_PFX_NEW_PASSWORD};
  *count = 2;
  return kEdits;
}

void CExportPfxDlg::OnInitDialog() {
  SetText(IDC_PFX_PATH, PathBoxText(m_folder, m_fileName));
  SetLimit(IDC_PFX_PASSWORD, m_maxLen);
  SetLimit(IDC_PFX_NEW_PASSWORD, m_maxLen);
  SetText(IDC_PFX_PASSWORD, m_password);
  SetText(IDC_PFX_NEW_PASSWORD, m_password);
  SetText(IDC_PFX_RANGE_LABEL, RangeLabel());
  UpdateOkButton();
}

void CExportPfxDlg::OnCommand(int id) {
  if (id != IDC_PFX_BROWSE) return;
  std::string folder;
  if (!kv::ui::BrowseForFolder(m_hWnd, Utf8ToNarrow(t::kBrowseFolderTitle), &folder)) return;
  m_folder = folder;
  SetText(IDC_PFX_PATH, PathBoxText(m_folder, m_fileName));
}

bool CExportPfxDlg::ProbeWritable(const std::string& fullPath, bool* showMessage) const {
  *showMessage = true;
  CByteBuffer empty;
  // A file already at the target is the user's: probing must not truncate
  // or delete it, so the folder is probed with a name of its own instead.
  std::string probe = fullPath;
  for (int n = 0; FileExists(probe) && n < 100; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "~kvprobe%d.tmp", n);
    probe = PathBoxText(m_folder, name);
  }
  if (FileExists(probe)) return false;
  if (!empty.SaveToFile(probe)) return false;
  if (!CByteBuffer::RemoveFile(probe)) {
    *showMessage = false;
    return false;
  }
  return true;
}

void CExportPfxDlg::OnOK() {
  m_password = Text(IDC_PFX_PASSWORD);
  if (m_password != Text(IDC_PFX_NEW_PASSWORD)) {
    ShowError(Utf8ToNarrow(t::kPasswordMismatch));
    return;
  }
  std::string message = Utf8ToNarrow(t::kFolderBadPrefix) +
                        (m_folder.empty() ? Utf8ToNarrow(t::kUnspecified) : m_folder) +
                        Utf8ToNarrow(t::kFolderBadSuffix);
  bool folderReady = FileExists(m_folder) || (!m_folder.empty() && CreateDirectoryA(m_folder.c_str(), nullptr));
  if (!folderReady) {
    ShowError(message);
    return;
  }
  bool showMessage = true;
  if (!ProbeWritable(Text(IDC_PFX_PATH), &showMessage)) {
    if (showMessage) ShowError(message);
    return;
  }
  EndDialog(IDOK);
}

void CExportPfxDlg::OnCancel() {
  m_fileName.clear();
  m_password.clear();
  EndDialog(IDCANCEL);
}

// --- 207: choose a PFX file to export for a mobile device --------------------

CExportMobileDlg::CExportMobileDlg() : CPfxFileDlg(207, 118, {false, false}) {
  AddControl(kStaticId, ControlKind::kStatic, t::kMobilePathLabel, {7, 7, 190, 10});
  DialogControl& path = AddControl(IDC_PFX_PATH, ControlKind::kEdit, "", {7, 19, 190, 30});
  path.multiline = true;
  path.readOnly = true;
  AddControl(IDC_PFX_BROWSE, ControlKind::kButton, t::kBrowse, {203, 19, 50, 14});
  AddControl(kStaticId, ControlKind::kStatic, t::kMobilePasswordLabel, {7, 56, 246, 20});
  AddControl(IDC_PFX_PASSWORD, ControlKind::kEdit, "", {7, 78, 130, 14}).password = true;
  AddControl(IDOK, ControlKind::kButton, t::kOk, {142, 98, 52, 14}).defaultButton = true;
  AddControl(IDCANCEL, ControlKind::kButton, t::kCancel, {201, 98, 52, 14});
}
