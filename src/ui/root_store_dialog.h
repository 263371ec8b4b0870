// The root-store dialog (209): a certificate is about to enter the user's
// trusted roots. It names the certificate (subject, issuer, serial number,
// SHA-1 thumbprint, validity) and, during a page's calls, the page's origin,
// and installs it only when the user says so; refusing is the default.
//
// On Windows the system asks this question itself when a certificate is
// added to the user's "ROOT" store. The stand-in asks through the prompt
// below, which the dialogs install for the whole process (kvwin/desktop.h).
#pragma once

#include <windows.h>

#include <string>

#include "ui/dialog_model.h"

enum : int {
  IDC_ROOT_SUBJECT = 320,
  IDC_ROOT_ISSUER = 321,
  IDC_ROOT_SERIAL = 322,
  IDC_ROOT_THUMBPRINT = 323,
  IDC_ROOT_VALIDITY = 324,
  IDC_ROOT_ORIGIN = 325,
};

class CRootStoreDlg : public CKvDialog {  // 209
 public:
  CRootStoreDlg();
  // ANSI texts, set before the dialog runs.
  std::string m_subject;
  std::string m_issuer;
  std::string m_serial;
  std::string m_thumbprint;
  std::string m_validity;
  std::string m_origin;

 protected:
  void OnInitDialog() override;
};

namespace kv::ui {

// Asks whether the certificate `encoded` may become a trusted root. A
// certificate that cannot be read, or a dialog that cannot be shown, closed
// or cancelled, is a refusal.
bool AskRootStoreTrust(const BYTE* encoded, DWORD size);

// Makes AskRootStoreTrust the process's root-store prompt unless another is
// installed already (the stand-in only; Windows asks by itself).
void InstallRootStorePrompt();

}  // namespace kv::ui
