// The consent dialog (208): a web page whose origin is not on the allow-list
// asks to use the engine through the browser extension. It shows the origin
// and offers to allow it this time (the page, until it is closed or
// reloaded) or always (remembered in the user's list), or to refuse it this
// time or always (remembered in the user's list of refused sites).
#pragma once

#include <string>

#include "ui/dialog_model.h"

enum : int {
  IDC_CONSENT_ORIGIN = 301,
  IDC_CONSENT_ALWAYS = 310,
  IDC_CONSENT_DENY_ALWAYS = 311,
};

class CConsentDlg : public CKvDialog {  // 208
 public:
  CConsentDlg();
  std::string m_origin;  // ANSI, "scheme://host:port"
  bool m_always = false;  // with IDOK or IDCANCEL: remember the answer

 protected:
  void OnInitDialog() override;
  void OnCommand(int id) override;
};

namespace kv::ui {

enum class Consent { kDeny, kOnce, kAlways, kDenyAlways };

// Asks whether `origin` may use the engine. A dialog that cannot be shown,
// closed or cancelled is a refusal.
Consent AskOriginConsent(const std::string& origin);

}  // namespace kv::ui
