// The certificate chooser (204) and the signing confirmation (201).
//
// Both work on plain texts: whoever shows them reads the certificates
// (subject and issuer names, serial, dates, DER) and hands the fields over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/dialog_model.h"

enum : int {
  IDC_CHOOSER_LIST = 301,
  IDC_CHOOSER_VIEW = 302,
  IDC_SIGN_CONTENT = 301,
  IDC_SIGN_SERIAL = 302,
  IDC_SIGN_COMMON_NAME = 303,
  IDC_SIGN_NOT_BEFORE = 304,
  IDC_SIGN_NOT_AFTER = 305,
};

// One candidate of the chooser: its five column texts and its DER encoding
// (what "檢視憑證" opens).
struct CertChooserRow {
  std::string holder;     // subject common name, or the whole subject
  std::string serial;     // upper-case hex, most significant byte first
  std::string notBefore;  // "YYYY/MM/DD", local time
  std::string notAfter;
  std::string issuer;  // issuer common name, or the whole issuer
  std::vector<BYTE> der;
};

namespace kv::ui {

// A chooser row from a certificate's fields: a name without a common name
// is shown whole.
CertChooserRow MakeChooserRow(const std::string& subjectCN, const std::string& subject, const std::string& serial,
                              const std::string& notBeforeDate, const std::string& notAfterDate,
                              const std::string& issuerCN, const std::string& issuer, const BYTE* der,
                              size_t derLength);

}  // namespace kv::ui

class CCertChooserDlg : public CKvDialog {  // 204
 public:
  CCertChooserDlg();

  // The caller's candidates, kept alive while the dialog runs.
  const std::vector<CertChooserRow>* m_candidates = nullptr;
  // Index of the chosen candidate after IDOK.
  int32_t m_selected = 0;

  // The highlighted row, or 0 when none is highlighted.
  int HighlightedIndex() const;
  // Where "檢視憑證" writes the certificate: "temp.cer" in the user's
  // private temporary folder (empty when there is none).
  static std::string TempCertificatePath();

 protected:
  void OnInitDialog() override;
  void OnCommand(int id) override;
  void OnOK() override;

 private:
  void ViewCertificate(int index);
};

class CSignConfirmDlg : public CKvDialog {  // 201
 public:
  CSignConfirmDlg();
  std::string m_content, m_commonName, m_serial, m_notBefore, m_notAfter;

 protected:
  void OnInitDialog() override;
};
