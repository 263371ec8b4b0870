// The consent dialog (208): a web page whose origin is not on the allow-list
// asks to use the engine through the browser extension. It shows the origin
// and offers to allow it once (this connection), always (remembered in the
// user's list), or to refuse it.
#pragma once

#include <string>

#include "ui/dialog_model.h"

enum : int {
  IDC_CONSENT_ORIGIN = 301,
  IDC_CONSENT_ALWAYS = 310,
};

class CConsentDlg : public CKvDialog {  // 208
 public:
  CConsentDlg();
  std::string m_origin;  // ANSI, "scheme://host:port"
  bool m_always = false;

 protected:
  void OnInitDialog() override;
  void OnCommand(int id) override;
};

namespace kv::ui {

enum class Consent { kDeny, kOnce, kAlways };

// Asks whether `origin` may use the engine. A dialog that cannot be shown,
// closed or cancelled is a refusal.
Consent AskOriginConsent(const std::string& origin);

}  // namespace kv::ui
