// The page action confirmation (210): during a web page's call, before the
// engine exports, deletes or installs keys or certificates, it shows the
// page's origin and what is about to happen, and goes on only when the
// person allows it. Refusing is the default button.
#pragma once

#include <string>

#include "vocabulary/error_codes.h"
#include "ui/dialog_model.h"

enum : int {
  IDC_PAGE_ACTION_ORIGIN = 330,
  IDC_PAGE_ACTION_WHAT = 331,
};

class CPageActionDlg : public CKvDialog {  // 210
 public:
  CPageActionDlg();
  std::string m_origin;  // ANSI, "scheme://host:port"
  std::string m_what;    // ANSI, lines separated by "\r\n"

 protected:
  void OnInitDialog() override;
};

namespace kv::ui {

// 0 when the person allows it; ERR_USER_CANCEL (5070) when refused or
// closed; ERR_MEM_ALLOC (5002) when no dialog can be shown.
ErrorCode ConfirmPageAction(const std::string& origin, const std::string& what);

}  // namespace kv::ui
