// The root-store dialog's controls, the question it answers, and its
// installation as the stand-in's root-store prompt.
#include "ui/root_store_dialog.h"

#include <wincrypt.h>

#include <memory>
#include <new>

#include "cert/cert_info.h"
#include "vocabulary/text.h"
#include "host/caller_origin.h"
#include "ui/dialog_texts.h"

#ifndef _WIN32
#include "kvwin/desktop.h"
#endif

namespace t = kv::ui::text;

CRootStoreDlg::CRootStoreDlg() : CKvDialog(209, t::kRootStoreTitle, 300, 170) {
  AddControl(kStaticId, ControlKind::kStatic, t::kRootStoreLabel, {7, 7, 286, 10});
  const struct {
    int id;
    const char* label;
  } fields[] = {{IDC_ROOT_SUBJECT, t::kRootSubjectLabel},   {IDC_ROOT_ISSUER, t::kRootIssuerLabel},
                {IDC_ROOT_SERIAL, t::kRootSerialLabel},     {IDC_ROOT_THUMBPRINT, t::kRootThumbprintLabel},
                {IDC_ROOT_VALIDITY, t::kRootValidityLabel}, {IDC_ROOT_ORIGIN, t::kRootOriginLabel}};
  int y = 22;
  for (const auto& field : fields) {
    AddControl(kStaticId, ControlKind::kStatic, field.label, {7, y + 2, 60, 10});
    AddControl(field.id, ControlKind::kEdit, "", {70, y, 223, 13}).readOnly = true;
    y += 17;
  }
  AddControl(kStaticId, ControlKind::kStatic, t::kRootWarning, {7, y + 2, 286, 20});
  AddControl(IDOK, ControlKind::kButton, t::kRootInstall, {168, 150, 60, 14});
  // Refusing is the default: Enter on an unread question trusts nothing.
  AddControl(IDCANCEL, ControlKind::kButton, t::kRootRefuse, {233, 150, 60, 14}).defaultButton = true;
}

void CRootStoreDlg::OnInitDialog() {
  SetText(IDC_ROOT_SUBJECT, m_subject);
  SetText(IDC_ROOT_ISSUER, m_issuer);
  SetText(IDC_ROOT_SERIAL, m_serial);
  SetText(IDC_ROOT_THUMBPRINT, m_thumbprint);
  SetText(IDC_ROOT_VALIDITY, m_validity);
  SetText(IDC_ROOT_ORIGIN, m_origin);
}

namespace kv::ui {
namespace {

std::string OrWhole(const std::string& commonName, const std::string& whole) {
  return commonName.empty() ? whole : commonName;
}

}  // namespace

bool AskRootStoreTrust(const BYTE* encoded, DWORD size) {
  CCertInfo info(encoded, static_cast<int32_t>(size));
  std::string serial = info.GetSerial();
  if (serial.empty()) return false;  // not a certificate
  std::unique_ptr<CRootStoreDlg> dialog(new (std::nothrow) CRootStoreDlg());
  if (!dialog) return false;
  dialog->m_subject = OrWhole(info.GetSubjectCN(), info.GetSubject());
  dialog->m_issuer = OrWhole(info.GetIssuerCN(), info.GetIssuer());
  dialog->m_serial = serial;
  dialog->m_thumbprint = info.GetFingerprint();
  dialog->m_validity = info.GetNotBeforeDate() + " - " + info.GetNotAfterDate();
  dialog->m_origin = kv::CallerOrigin();
  return dialog->DoModal() == IDOK;
}

void InstallRootStorePrompt() {
#ifndef _WIN32
  if (!kv::platform::ActiveRootStorePrompt()) kv::platform::SwapRootStorePrompt(&AskRootStoreTrust);
#endif
}

namespace {
// The library's processes have the question from the start, whoever adds
// to the store.
[[maybe_unused]] const bool kPromptInstalled = (InstallRootStorePrompt(), true);
}  // namespace

}  // namespace kv::ui
