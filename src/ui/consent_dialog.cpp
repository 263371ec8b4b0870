// The consent dialog's controls and its four answers.
#include "ui/consent_dialog.h"

#include <memory>
#include <new>

#include "vocabulary/text.h"
#include "ui/dialog_texts.h"

namespace t = kv::ui::text;

CConsentDlg::CConsentDlg() : CKvDialog(208, t::kConsentTitle, 300, 96) {
  AddControl(kStaticId, ControlKind::kStatic, t::kConsentLabel, {7, 7, 286, 20});
  AddControl(IDC_CONSENT_ORIGIN, ControlKind::kEdit, "", {7, 30, 286, 13}).readOnly = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kConsentQuestion, {7, 50, 286, 10});
  AddControl(IDOK, ControlKind::kButton, t::kConsentOnce, {7, 74, 68, 14});
  AddControl(IDC_CONSENT_ALWAYS, ControlKind::kButton, t::kConsentAlways, {79, 74, 68, 14});
  // Refusing this time is the default: Enter on an unread dialog lets
  // nothing in and remembers nothing.
  AddControl(IDCANCEL, ControlKind::kButton, t::kConsentDeny, {151, 74, 68, 14}).defaultButton = true;
  AddControl(IDC_CONSENT_DENY_ALWAYS, ControlKind::kButton, t::kConsentDenyAlways, {223, 74, 70, 14});
}

void CConsentDlg::OnInitDialog() {
  m_always = false;
  SetText(IDC_CONSENT_ORIGIN, m_origin);
}

void CConsentDlg::OnCommand(int id) {
  if (id != IDC_CONSENT_ALWAYS && id != IDC_CONSENT_DENY_ALWAYS) return;
  m_always = true;
  EndDialog(id == IDC_CONSENT_ALWAYS ? IDOK : IDCANCEL);
}

namespace kv::ui {

Consent AskOriginConsent(const std::string& origin) {
  std::unique_ptr<CConsentDlg> dialog(new (std::nothrow) CConsentDlg());
  if (!dialog) return Consent::kDeny;
  dialog->m_origin = origin;
  if (dialog->DoModal() != IDOK) return dialog->m_always ? Consent::kDenyAlways : Consent::kDeny;
  return dialog->m_always ? Consent::kAlways : Consent::kOnce;
}

}  // namespace kv::ui
