// The certificate chooser's list, highlighted-row rule and certificate
// viewing, and the signing confirmation's fields.
#include "ui/cert_dialogs.h"

#include <windows.h>

#include "vocabulary/text.h"
#include "ui/common_dialogs.h"
#include "ui/dialog_texts.h"
#include "ui/viewer_file.h"

namespace t = kv::ui::text;

namespace kv::ui {

CertChooserRow MakeChooserRow(const std::string& subjectCN, const std::string& subject, const std::string& serial,
                              const std::string& notBeforeDate, const std::string& notAfterDate,
                              const std::string& issuerCN, const std::string& issuer, const BYTE* der,
                              size_t derLength) {
  CertChooserRow row;
  row.holder = subjectCN.empty() ? subject : subjectCN;
  row.serial = serial;
  row.notBefore = notBeforeDate;
  row.notAfter = notAfterDate;
  row.issuer = issuerCN.empty() ? issuer : issuerCN;
  if (der && derLength) row.der.assign(der, der + derLength);
  return row;
}

}  // namespace kv::ui

// --- 204 -------------------------------------------------------------------

CCertChooserDlg::CCertChooserDlg() : CKvDialog(204, t::kChooserTitle, 352, 144) {
  AddControl(kStaticId, ControlKind::kGroupBox, t::kCertGroup, {7, 7, 338, 110});
  AddControl(IDC_CHOOSER_LIST, ControlKind::kListView, "", {14, 19, 324, 91});
  AddControl(IDC_CHOOSER_VIEW, ControlKind::kButton, t::kViewCert, {7, 123, 60, 14});
  AddControl(IDOK, ControlKind::kButton, t::kOk, {229, 123, 55, 14}).defaultButton = true;
  AddControl(IDCANCEL, ControlKind::kButton, t::kCancel, {290, 123, 55, 14});
}

void CCertChooserDlg::OnInitDialog() {
  SetColumns({{kv::Utf8ToNarrow(t::kColumnHolder), 150},
              {kv::Utf8ToNarrow(t::kColumnSerial), 110},
              {kv::Utf8ToNarrow(t::kColumnNotBefore), 110},
              {kv::Utf8ToNarrow(t::kColumnNotAfter), 110},
              {kv::Utf8ToNarrow(t::kColumnIssuer), 180}});
  std::vector<std::vector<std::string>> rows;
  if (m_candidates) {
    for (const CertChooserRow& c : *m_candidates)
      rows.push_back({c.holder, c.serial, c.notBefore, c.notAfter, c.issuer});
  }
  SetRows(rows);
  m_selected = 0;
  HighlightRow(0);
}

int CCertChooserDlg::HighlightedIndex() const { return HighlightedRow() >= 0 ? HighlightedRow() : 0; }

void CCertChooserDlg::OnOK() {
  m_selected = HighlightedIndex();
  EndDialog(IDOK);
}

void CCertChooserDlg::OnCommand(int id) {
  if (id != IDC_CHOOSER_VIEW) return;
  m_selected = HighlightedIndex();
  ViewCertificate(m_selected);
}

std::string CCertChooserDlg::TempCertificatePath() {
  std::string folder = kv::ui::PrivateTempFolder();
  return folder.empty() ? folder : folder + t::kTempCertName;
}

// Failures to write or open are not reported: the dialog stays as it was.
void CCertChooserDlg::ViewCertificate(int index) {
  if (!m_candidates || index < 0 || static_cast<size_t>(index) >= m_candidates->size()) return;
  std::string path = kv::ui::WriteViewerFile((*m_candidates)[static_cast<size_t>(index)].der);
  if (path.empty()) return;
  kv::ui::OpenDocument(m_hWnd, path);
}

// --- 201 -------------------------------------------------------------------

CSignConfirmDlg::CSignConfirmDlg() : CKvDialog(201, t::kSignConfirmTitle, 320, 232) {
  AddControl(kStaticId, ControlKind::kGroupBox, t::kContentGroup, {7, 7, 306, 100});
  DialogControl& content = AddControl(IDC_SIGN_CONTENT, ControlKind::kEdit, "", {14, 19, 292, 81});
  content.multiline = true;
  content.vscroll = true;
  content.readOnly = true;
  AddControl(kStaticId, ControlKind::kGroupBox, t::kCertInfoGroup, {7, 113, 306, 92});
  AddControl(kStaticId, ControlKind::kStatic, t::kSerialLabel, {14, 127, 84, 10});
  AddControl(IDC_SIGN_SERIAL, ControlKind::kEdit, "", {100, 125, 206, 13}).readOnly = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kCommonNameLabel, {14, 145, 84, 10});
  AddControl(IDC_SIGN_COMMON_NAME, ControlKind::kEdit, "", {100, 143, 206, 13}).readOnly = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kValidityLabel, {14, 163, 120, 10});
  AddControl(kStaticId, ControlKind::kStatic, t::kFromLabel, {14, 182, 26, 10});
  AddControl(IDC_SIGN_NOT_BEFORE, ControlKind::kEdit, "", {42, 180, 110, 13}).readOnly = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kToLabel, {160, 182, 18, 10});
  AddControl(IDC_SIGN_NOT_AFTER, ControlKind::kEdit, "", {180, 180, 126, 13}).readOnly = true;
  AddControl(IDOK, ControlKind::kButton, t::kSignOk, {188, 212, 60, 14}).defaultButton = true;
  AddControl(IDCANCEL, ControlKind::kButton, t::kSignCancel, {253, 212, 60, 14});
}

void CSignConfirmDlg::OnInitDialog() {
  SetText(IDC_SIGN_CONTENT, m_content);
  SetText(IDC_SIGN_SERIAL, m_serial);
  SetText(IDC_SIGN_COMMON_NAME, m_commonName);
  SetText(IDC_SIGN_NOT_BEFORE, m_notBefore);
  SetText(IDC_SIGN_NOT_AFTER, m_notAfter);
}
