// The DLL's dialogs under Wine: first with scripted answers
// (KORVESSA_DIALOGS, no window), then as real windows that a driver thread
// photographs, checks and operates.
#include "checks.h"

#include "window_driver.h"

namespace wine_test {
namespace {

const wchar_t* kContent = L"交易內容：買進 2330 一張";
const wchar_t* kCancelMessage = L"使用者按下\"取消\"按鈕(5070)";

void CheckScripted(Library& k, Report& r) {
  std::string script =
      "[{\"dialog\": 204, \"select\": 1, \"press\": 1},\n"
      " {\"dialog\": 201, \"press\": 2}]\n";
  WriteOutput(L"dialogs.json", script);
  SetEnvironmentVariableW(L"KORVESSA_DIALOGS", OutputPath(L"dialogs.json").c_str());
  SetEnvironmentVariableW(L"KORVESSA_DIALOG_LOG", OutputPath(L"dialog-log.jsonl").c_str());
  r.Equal(k.Number("SelectSigner", L"", 0x101L, 0L), 0, "scripted chooser: SelectSigner");
  r.Equal(k.Text("GetCertSubjectCN"), k.Text("GetIECertCommonName", 2L), "scripted chooser took row 1");
  r.Equal(k.Text("SignPkcs1", kContent, 0x8100L), L"", "scripted confirmation refused: no signature");
  r.Equal(k.Error(), 5070, "scripted confirmation refused: 5070");
  r.Equal(k.Message(), kCancelMessage, "message of 5070");
  SetEnvironmentVariableW(L"KORVESSA_DIALOGS", nullptr);
  SetEnvironmentVariableW(L"KORVESSA_DIALOG_LOG", nullptr);
}

void CheckChooser(Library& k, Report& r) {
  LONG result = -1;
  std::wstring row0, row1;
  int selected = -2;
  WithDriver([&] { result = k.Number("SelectSigner", L"", 0x101L, 0L); },
             [&] {
               HWND d = WaitForWindow(L"請挑選您的憑證");
               if (!r.Check(d != nullptr, "chooser window shown")) return;
               r.Check(Screenshot(d, L"204-chooser"), "chooser screenshot");
               row0 = ListRow(d, 301, 0, 5);
               row1 = ListRow(d, 301, 1, 5);
               selected = ListSelected(d, 301);
               SelectListRow(d, 301, 1);
               Sleep(200);
               Click(d, IDOK);
               r.Check(WaitGone(d), "chooser closes on OK");
             });
  r.Equal(selected, 0, "chooser starts on row 0");
  std::wstring holder0 = k.Text("GetIECertCommonName", 1L), holder1 = k.Text("GetIECertCommonName", 2L);
  r.Check(row0.find(holder0 + L"|" + k.Text("GetIECertSerial", 1L) + L"|") == 0, "chooser row 0 columns", row0);
  r.Check(row1.find(L"|Korvessa Wine CA") != std::wstring::npos, "chooser issuer column", row1);
  r.Equal(result, 0, "chooser OK: SelectSigner 0");
  r.Equal(k.Text("GetCertSubjectCN"), holder1, "chooser OK takes the highlighted row");
}

void CheckConfirmation(Library& k, Report& r) {
  std::wstring signature, commonName, serial;
  WithDriver([&] { signature = k.Text("SignPkcs1", kContent, 0x8100L); },
             [&] {
               HWND d = WaitForWindow(L"執行簽章(Sign with this Certificate)");
               if (!r.Check(d != nullptr, "confirmation window shown")) return;
               r.Check(Screenshot(d, L"201-sign-confirm"), "confirmation screenshot");
               r.Equal(ControlText(d, 301), kContent, "confirmation shows the content");
               commonName = ControlText(d, 303);
               serial = ControlText(d, 302);
               Click(d, IDOK);
               WaitGone(d);
             });
  r.Equal(commonName, k.Text("GetCertSubjectCN"), "confirmation shows the common name");
  r.Equal(serial, k.Text("GetCertSerial"), "confirmation shows the serial");
  r.Check(!signature.empty() && k.Error() == 0, "confirmed: signed", k.Message());

  WithDriver([&] { signature = k.Text("SignPkcs1", kContent, 0x8100L); },
             [&] {
               HWND d = WaitForWindow(L"執行簽章(Sign with this Certificate)");
               if (d) Click(d, IDCANCEL);
               WaitGone(d);
             });
  r.Equal(signature, L"", "refused: no signature");
  r.Equal(k.Error(), 5070, "refused: 5070");
}

void CheckPfxFileDialog(Library& k, Report& r) {
  LONG result = -1;
  std::wstring missing = OutputPath(L"missing.pfx");
  WithDriver([&] { result = k.Number("SelectSigner", L"", 0x200L, 0L); },
             [&] {
               HWND d = WaitForWindow(L"輸入憑證檔案資訊");
               if (!r.Check(d != nullptr, "PFX file window shown")) return;
               r.Check(Screenshot(d, L"202-pfx-file"), "PFX file screenshot");
               TypeInto(d, 302, missing);
               TypeInto(d, 303, L"secret");
               Click(d, IDOK);
               HWND box = WaitForWindow(L"錯誤訊息");
               if (r.Check(box != nullptr, "missing PFX file: error box")) {
                 Screenshot(box, L"202-missing-file");
                 HWND label = FindWindowExW(box, nullptr, L"Static", nullptr);
                 wchar_t text[512] = {0};
                 // The icon is the first static; the text follows it.
                 while (label && !GetWindowTextW(label, text, 512)) label = FindWindowExW(box, label, L"Static", nullptr);
                 r.Equal(text, L"憑證檔(" + missing + L") : 錯誤或不存在", "missing PFX file: message names the path");
                 PostMessageW(box, WM_COMMAND, IDOK, 0);
                 WaitGone(box);
               }
               r.Check(IsWindowVisible(d) != FALSE, "PFX file dialog stays open after the error");
               Click(d, IDCANCEL);
               WaitGone(d);
             });
  r.Equal(result, 5070, "PFX file dialog cancelled: 5070");
}

}  // namespace

void CheckDialogs(Library& k, Report& r) {
  if (!r.Check(AddSignerToMy(L"korvessa-wine-second", L"CN=陳大華", 0x44, nullptr), "second certificate added"))
    return;
  r.Equal(k.Number("GetIECertCount"), 2, "two personal certificates");
  CheckScripted(k, r);
  CheckChooser(k, r);
  CheckConfirmation(k, r);
  CheckPfxFileDialog(k, r);
}

}  // namespace wine_test
