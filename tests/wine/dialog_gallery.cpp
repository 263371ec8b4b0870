// Every dialog model (201 to 208, 210 and 211) on the Win32 renderer with its resource
// template, run through the engine's launch routines while a driver thread
// photographs, checks and operates the real window. Operations that show
// 203, 205, 206 and 207 may not be in the DLL yet; this shows them anyway.
// Usage: korvessa_dialog_gallery <output folder>
#include <cstdio>
#include <string>

#include "vocabulary/error_codes.h"
#include "host/caller_origin.h"
#include "host_support.h"
#include "ui/consent_dialog.h"
#include "ui/dialog_launch.h"
#include "ui/page_action_dialog.h"
#include "ui/token_pin_dialog.h"
#include "window_driver.h"

using namespace wine_test;

namespace {

std::string Ansi(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  return out;
}

const wchar_t* kPfxTitle = L"輸入憑證檔案資訊";

void Sign(Report& r) {
  ErrorCode code = -1;
  WithDriver([&] { code = kv::ui::ConfirmSignature(Ansi(L"交易內容：買進 2330 一張\r\n第二行"), "01174233",
                                                    Ansi(L"王小明"), "20240101080000", "20260101080000"); },
             [&] {
               HWND d = WaitForWindow(L"執行簽章(Sign with this Certificate)");
               if (!r.Check(d != nullptr, "201 shown")) return;
               r.Equal(ClippedLabels(d), L"", "201 labels fit");
               r.Check(Screenshot(d, L"201-sign-confirm"), "201 screenshot");
               r.Equal(ControlText(d, 303), L"王小明", "201 common name");
               r.Equal(ControlText(d, 304), L"20240101080000", "201 validity start");
               Click(d, IDOK);
             });
  r.Equal(code, 0, "201 OK: 0");
}

void PfxFile(Report& r) {
  std::string folder = Ansi(OutputPath(L"")), name, password;
  folder.pop_back();
  ErrorCode code = -1;
  WithDriver([&] { code = kv::ui::AskPfxFile(folder, name, password, 0, 16); },
             [&] {
               HWND d = WaitForWindow(kPfxTitle);
               if (!r.Check(d != nullptr, "202 shown")) return;
               r.Equal(ClippedLabels(d), L"", "202 labels fit");
               r.Check(Screenshot(d, L"202-pfx-file"), "202 screenshot");
               r.Check(ControlText(d, 302).find(L"\\*.pfx") != std::wstring::npos, "202 path box shows *.pfx",
                       ControlText(d, 302));
               r.Check(ControlEnabled(d, IDOK), "202 accepts an empty password with the default range");
               Click(d, IDCANCEL);
             });
  r.Equal(code, ERR_USER_CANCEL, "202 cancel: 5070");
  r.Check(name == "*.pfx", "202 empty file name became *.pfx");
}

void ChangePassword(Report& r) {
  WriteOutput(L"old.pfx", "x");
  std::string folder = Ansi(OutputPath(L"")), name = "old.pfx", oldPw, newPw;
  folder.pop_back();
  ErrorCode code = -1;
  WithDriver([&] { code = kv::ui::AskChangePfxPassword(folder, name, oldPw, newPw, 0, 16); },
             [&] {
               HWND d = WaitForWindow(L"變更憑證檔案密碼");
               if (!r.Check(d != nullptr, "203 shown")) return;
               r.Equal(ClippedLabels(d), L"", "203 labels fit");
               r.Equal(ControlText(d, 306), L"請設定憑證密碼(英文或數字1～16碼)", "203 range label");
               r.Check(!ControlEnabled(d, 301), "203 browse disabled for an existing file");
               r.Check(!ControlEnabled(d, IDOK), "203 OK disabled while passwords are empty");
               TypeInto(d, 303, L"old");
               TypeInto(d, 304, L"abc123");
               TypeInto(d, 305, L"abc124");
               r.Check(ControlEnabled(d, IDOK), "203 OK enabled once every password is typed");
               r.Check(Screenshot(d, L"203-change-password"), "203 screenshot");
               Click(d, IDOK);
             });
  r.Equal(code, ERR_PASSWORD_MISMATCH, "203 new and confirmation differ: 5209");
}

void Chooser(Report& r) {
  std::vector<CertChooserRow> rows = {
      kv::ui::MakeChooserRow(Ansi(L"王小明"), "", "01174233", "2024/01/01", "2026/01/01", "", Ansi(L"CN=測試 CA, C=TW"),
                             nullptr, 0),
      kv::ui::MakeChooserRow("", Ansi(L"O=無名公司, C=TW"), "0A0B", "2023/05/06", "2025/05/06", Ansi(L"台灣網路認證"), "",
                             nullptr, 0),
      kv::ui::MakeChooserRow(Ansi(L"陳大華"), "", "FF00", "2022/02/02", "2024/02/02", Ansi(L"台灣網路認證"), "",
                             nullptr, 0)};
  int chosen = -1;
  ErrorCode code = -1;
  WithDriver([&] { code = kv::ui::ChooseCertificate(rows, &chosen); },
             [&] {
               HWND d = WaitForWindow(L"請挑選您的憑證");
               if (!r.Check(d != nullptr, "204 shown")) return;
               r.Equal(ClippedLabels(d), L"", "204 labels fit");
               r.Check(Screenshot(d, L"204-chooser"), "204 screenshot");
               r.Equal(ListRow(d, 301, 1, 5), L"O=無名公司, C=TW|0A0B|2023/05/06|2025/05/06|台灣網路認證",
                       "204 row without a common name shows the whole subject");
               SelectListRow(d, 301, 2);
               Sleep(100);
               Click(d, IDOK);
             });
  r.Equal(code, 0, "204 OK: 0");
  r.Equal(chosen, 2, "204 takes the highlighted row");
}

void Password(Report& r) {
  std::string password;
  ErrorCode code = -1;
  WithDriver([&] { code = kv::ui::AskPfxPassword(password); },
             [&] {
               HWND d = WaitForWindow(L"輸入憑證檔密碼");
               if (!r.Check(d != nullptr, "205 shown")) return;
               r.Equal(ClippedLabels(d), L"", "205 labels fit");
               TypeInto(d, 303, L"pw1234");
               r.Check(Screenshot(d, L"205-password"), "205 screenshot");
               Click(d, IDOK);
             });
  r.Equal(code, 0, "205 OK: 0");
  r.Check(password == "pw1234", "205 gives the typed password");
}

void ExportPfx(Report& r) {
  std::string folder = Ansi(OutputPath(L"")), name = "export.pfx", password;
  folder.pop_back();
  ErrorCode code = -1;
  WithDriver([&] { code = kv::ui::AskExportPfx(folder, name, password, 6, 10); },
             [&] {
               HWND d = WaitForWindow(kPfxTitle);
               if (!r.Check(d != nullptr, "206 shown")) return;
               r.Equal(ClippedLabels(d), L"", "206 labels fit");
               r.Equal(ControlText(d, 306), L"請設定憑證密碼(英文或數字6～10碼)", "206 range label");
               TypeInto(d, 303, L"abcdef");
               TypeInto(d, 304, L"abcdeg");
               r.Check(Screenshot(d, L"206-export-pfx"), "206 screenshot");
               Click(d, IDOK);
               HWND box = WaitForWindow(L"錯誤訊息");
               if (r.Check(box != nullptr, "206 mismatch: error box")) {
                 Screenshot(box, L"206-password-mismatch");
                 PostMessageW(box, WM_COMMAND, IDOK, 0);
                 WaitGone(box);
               }
               TypeInto(d, 304, L"abcdef");
               Click(d, IDOK);
             });
  r.Equal(code, 0, "206 OK once the passwords agree: 0");
  r.Check(password == "abcdef", "206 gives the password");
}

void ExportMobile(Report& r) {
  std::string folder, name, password;
  ErrorCode code = -1;
  WithDriver([&] { code = kv::ui::AskExportMobile(folder, name, password, 0, 16); },
             [&] {
               HWND d = WaitForWindow(kPfxTitle);
               if (!r.Check(d != nullptr, "207 shown")) return;
               r.Equal(ClippedLabels(d), L"", "207 labels fit");
               r.Check(Screenshot(d, L"207-export-mobile"), "207 screenshot");
               r.Equal(ControlText(d, 302), L"", "207 path box empty without a folder");
               Click(d, IDOK);
               HWND box = WaitForWindow(L"錯誤訊息");
               if (r.Check(box != nullptr, "207 no file: error box")) {
                 Screenshot(box, L"207-missing-file");
                 PostMessageW(box, WM_COMMAND, IDOK, 0);
                 WaitGone(box);
               }
               Click(d, IDCANCEL);
             });
  r.Equal(code, ERR_USER_CANCEL, "207 cancel: 5070");
}

// The browsers' host asks through this one (KvAdmitWebOrigin in the DLL).
void Consent(Report& r) {
  kv::ui::Consent answer = kv::ui::Consent::kDeny;
  WithDriver([&] { answer = kv::ui::AskOriginConsent("https://trade.example.com.tw:443"); },
             [&] {
               HWND d = WaitForWindow(L"網站使用授權");
               if (!r.Check(d != nullptr, "208 shown")) return;
               r.Equal(ClippedLabels(d), L"", "208 labels fit");
               r.Check(Screenshot(d, L"208-consent"), "208 screenshot");
               r.Equal(ControlText(d, IDC_CONSENT_ORIGIN), L"https://trade.example.com.tw:443", "208 shows the origin");
               Click(d, IDC_CONSENT_ALWAYS);
             });
  r.Check(answer == kv::ui::Consent::kAlways, "208 always: remembered");
}

// A page's call that would export a key (the DLL behind the browsers' host).
void PageAction(Report& r) {
  ErrorCode code = -1;
  const std::wstring what = L"匯出憑證與私密金鑰至 PFX 檔案\r\n憑證: 王小明";
  WithDriver([&] { code = kv::ui::ConfirmPageAction("https://trade.example.com.tw:443", Ansi(what)); },
             [&] {
               HWND d = WaitForWindow(L"憑證作業確認");
               if (!r.Check(d != nullptr, "210 shown")) return;
               r.Equal(ClippedLabels(d), L"", "210 labels fit");
               r.Check(Screenshot(d, L"210-page-action"), "210 screenshot");
               r.Equal(ControlText(d, IDC_PAGE_ACTION_ORIGIN), L"https://trade.example.com.tw:443",
                       "210 shows the origin");
               r.Equal(ControlText(d, IDC_PAGE_ACTION_WHAT), what, "210 shows what will happen");
               Click(d, IDCANCEL);
             });
  r.Equal(code, ERR_USER_CANCEL, "210 refused: 5070");
}

// The stand-in's smart-card provider asks through this one before a token's
// key is first used: once for a page's call (its origin in the caption and
// the dialog), once for a desktop program's.
void TokenPin(Report& r) {
  const std::wstring token = L"自然人憑證 (王小明)";
  std::string pin = "unchanged";
  ErrorCode code = -1;
  WithDriver(
      [&] {
        kv::ScopedCallerOrigin page("https://trade.example.com.tw:443");
        code = kv::ui::AskTokenPin(Ansi(token), &pin);
      },
      [&] {
        HWND d = WaitForWindow(L"智慧卡密碼驗證 - https://trade.example.com.tw:443");
        if (!r.Check(d != nullptr, "211 shown, the page's origin in its caption")) return;
        r.Equal(ControlText(d, IDC_PIN_TOKEN), token, "211 names the token");
        r.Equal(ControlText(d, IDC_PIN_ORIGIN), L"https://trade.example.com.tw:443", "211 shows the origin");
        r.Check(GetWindowLongW(GetDlgItem(d, IDC_PIN_CODE), GWL_STYLE) & ES_PASSWORD, "211 PIN box masks");
        r.Equal(FocusedControl(d), IDC_PIN_CODE, "211 typing goes to the PIN box");
        r.Equal(ClippedLabels(d), L"", "211 labels fit");
        TypeInto(d, IDC_PIN_CODE, L"4321");
        r.Check(Screenshot(d, L"211-token-pin"), "211 screenshot");
        Click(d, IDOK);
      });
  r.Equal(code, 0, "211 OK: 0");
  r.Check(pin == "4321", "211 gives the typed PIN");

  pin = "unchanged";
  WithDriver([&] { code = kv::ui::AskTokenPin("Test Token", &pin); },
             [&] {
               HWND d = WaitForWindow(L"智慧卡密碼驗證");
               if (!r.Check(d != nullptr, "211 shown to a desktop program under its plain caption")) return;
               r.Equal(ControlText(d, IDC_PIN_ORIGIN), L"", "211 no origin for a desktop program");
               TypeInto(d, IDC_PIN_CODE, L"9999");
               Click(d, IDCANCEL);
             });
  r.Equal(code, ERR_USER_CANCEL, "211 cancel: 5070");
  r.Check(pin == "unchanged", "211 cancel gives no PIN");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: korvessa_dialog_gallery <output folder>\n");
    return 2;
  }
  SetOutputFolder(argv[1]);
  Report report;
  Sign(report);
  PfxFile(report);
  ChangePassword(report);
  Chooser(report);
  Password(report);
  ExportPfx(report);
  ExportMobile(report);
  Consent(report);
  PageAction(report);
  TokenPin(report);
  std::printf("# %d passed, %d failed\n", report.Passed(), report.Failed());
  return report.Failed() ? 1 : 0;
}
