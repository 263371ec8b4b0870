// The PIN dialog's controls, its answer, and its installation as the
// stand-in's token PIN prompt.
#include "ui/token_pin_dialog.h"

#include <memory>
#include <new>

#include "host/caller_origin.h"
#include "ui/dialog_texts.h"

#ifndef _WIN32
#include "kvwin/desktop.h"
#endif

namespace t = kv::ui::text;

namespace {

// PKCS#11 tokens take PINs of at most a few dozen characters.
constexpr int kPinLimit = 64;

void Wipe(std::string* text) {
  for (char& c : *text) *static_cast<volatile char*>(&c) = 0;
  text->clear();
}

}  // namespace

CTokenPinDlg::CTokenPinDlg() : CKvDialog(211, t::kTokenPinTitle, 240, 112) {
  AddControl(kStaticId, ControlKind::kStatic, t::kTokenPinLabel, {7, 7, 226, 10});
  AddControl(kStaticId, ControlKind::kStatic, t::kTokenPinTokenLabel, {7, 24, 50, 10});
  AddControl(IDC_PIN_TOKEN, ControlKind::kEdit, "", {60, 22, 173, 13}).readOnly = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kTokenPinOriginLabel, {7, 41, 50, 10});
  AddControl(IDC_PIN_ORIGIN, ControlKind::kEdit, "", {60, 39, 173, 13}).readOnly = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kTokenPinCodeLabel, {7, 58, 50, 10});
  AddControl(IDC_PIN_CODE, ControlKind::kEdit, "", {60, 56, 173, 13}).password = true;
  AddControl(kStaticId, ControlKind::kStatic, t::kTokenPinNote, {7, 74, 226, 10});
  AddControl(IDOK, ControlKind::kButton, t::kOk, {122, 91, 52, 14}).defaultButton = true;
  AddControl(IDCANCEL, ControlKind::kButton, t::kCancel, {181, 91, 52, 14});
}

CTokenPinDlg::~CTokenPinDlg() { Wipe(&m_pin); }

void CTokenPinDlg::OnInitDialog() {
  SetLimit(IDC_PIN_CODE, kPinLimit);
  SetText(IDC_PIN_TOKEN, m_token);
  SetText(IDC_PIN_ORIGIN, m_origin);
}

void CTokenPinDlg::OnOK() {
  m_pin = Text(IDC_PIN_CODE);
  SetText(IDC_PIN_CODE, std::string());  // the control does not keep it either
  EndDialog(IDOK);
}

void CTokenPinDlg::OnCancel() {
  Wipe(&m_pin);
  SetText(IDC_PIN_CODE, std::string());
  EndDialog(IDCANCEL);
}

namespace kv::ui {

ErrorCode AskTokenPin(const std::string& token, std::string* pin) {
  std::unique_ptr<CTokenPinDlg> dialog(new (std::nothrow) CTokenPinDlg());
  if (!dialog) return ERR_MEM_ALLOC;
  dialog->m_token = token;
  dialog->m_origin = kv::CallerOrigin();
  INT_PTR result = dialog->DoModal();
  if (result == IDOK) {
    *pin = dialog->m_pin;
    return ERR_SUCCESS;
  }
  return result == IDCANCEL ? ERR_USER_CANCEL : ERR_MEM_ALLOC;
}

#ifndef _WIN32
namespace {

// The provider speaks UTF-8, the dialogs the ANSI code page.
bool PromptForToken(const std::string& tokenUtf8, std::string* pinUtf8) {
  std::string token, pin;
  if (!kv::platform::AnsiFromDesktopText(tokenUtf8, &token)) token = tokenUtf8;
  if (AskTokenPin(token, &pin) != ERR_SUCCESS) return false;
  bool converted = kv::platform::DesktopTextFromAnsi(pin, pinUtf8);
  Wipe(&pin);
  return converted;
}

}  // namespace
#endif

void InstallTokenPinPrompt() {
#ifndef _WIN32
  if (!kv::platform::ActiveTokenPinPrompt()) kv::platform::SwapTokenPinPrompt(&PromptForToken);
#endif
}

namespace {
// The library's processes have the prompt from the start, whoever signs.
[[maybe_unused]] const bool kPromptInstalled = (InstallTokenPinPrompt(), true);
}  // namespace

}  // namespace kv::ui
