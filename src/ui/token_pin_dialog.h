// The smart-card PIN dialog (211): before the first use of a token's private
// key in a token session, it names the token and, during a web page's call,
// the page's origin, and takes the PIN. The PIN goes to the token and is
// kept nowhere else; the token stays logged in for its session as a card's
// provider keeps it.
//
// On Windows the card's own provider asks for its PIN. The stand-in's
// smart-card provider asks through the prompt below, which the dialogs
// install for the whole process (kvwin/desktop.h).
#pragma once

#include <string>

#include "vocabulary/error_codes.h"
#include "ui/dialog_model.h"

enum : int {
  IDC_PIN_TOKEN = 340,
  IDC_PIN_ORIGIN = 341,
  IDC_PIN_CODE = 342,
};

class CTokenPinDlg : public CKvDialog {  // 211
 public:
  CTokenPinDlg();
  ~CTokenPinDlg() override;
  std::string m_token;   // ANSI
  std::string m_origin;  // ANSI, "scheme://host:port" or empty
  std::string m_pin;     // ANSI, after OK

 protected:
  void OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
};

namespace kv::ui {

// 0 with the PIN typed; ERR_USER_CANCEL (5070) when refused or closed;
// ERR_MEM_ALLOC (5002) when no dialog can be shown.
ErrorCode AskTokenPin(const std::string& token, std::string* pin);

// Makes the PIN dialog the process's token PIN prompt unless another is
// installed already (the stand-in only; Windows' card providers ask by
// themselves).
void InstallTokenPinPrompt();

}  // namespace kv::ui
