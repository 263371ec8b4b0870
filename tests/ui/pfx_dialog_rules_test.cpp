// The password and PFX dialogs' rules, driven directly on the models with a
// recording desktop behind the common dialogs.
#include <gtest/gtest.h>

#include <commdlg.h>
#include <sys/stat.h>

#include "codec/byte_buffer.h"
#include "ui/dialog_test_support.h"
#include "ui/dialog_texts.h"
#include "ui/pfx_dialogs.h"
#include "ui/pfx_path.h"

namespace {

using kv::test::Ansi;
using kv::test::ReadFile;
using kv::test::RecordingDesktop;
using kv::test::TempFolder;
namespace t = kv::ui::text;

class PfxDialogRules : public ::testing::Test {
 protected:
  RecordingDesktop desktop_;
  kv::platform::ScopedDesktop scope_{&desktop_};
  TempFolder folder_;
};

TEST(PfxPasswordRange, SwapsAndDefaults) {
  CPfxFileDlg dlg;
  EXPECT_EQ(0, dlg.m_minLen);
  EXPECT_EQ(16, dlg.m_maxLen);
  dlg.SetPasswordRange(10, 6);
  EXPECT_EQ(6, dlg.m_minLen);
  EXPECT_EQ(10, dlg.m_maxLen);
  dlg.SetPasswordRange(-3, 0);
  EXPECT_EQ(0, dlg.m_minLen);
  EXPECT_EQ(16, dlg.m_maxLen);
  dlg.SetPasswordRange(5, -1);  // swapped first, then the minimum defaults
  EXPECT_EQ(0, dlg.m_minLen);
  EXPECT_EQ(5, dlg.m_maxLen);
}

TEST(PfxPath, SplitsWindowsAndPosixForms) {
  std::string folder, file;
  kv::ui::SplitPath("C:\\a.pfx", &folder, &file);
  EXPECT_EQ("C:\\", folder);
  EXPECT_EQ("a.pfx", file);
  kv::ui::SplitPath("D:\\certs\\b.p12", &folder, &file);
  EXPECT_EQ("D:\\certs", folder);
  EXPECT_EQ("b.p12", file);
  kv::ui::SplitPath("/home/user/c.pfx", &folder, &file);
  EXPECT_EQ("/home/user", folder);
  EXPECT_EQ("c.pfx", file);
  kv::ui::SplitPath("/c.pfx", &folder, &file);
  EXPECT_EQ("/", folder);
  EXPECT_EQ("c.pfx", file);
  // "\xA5\x5C" is one Big5 character whose trail byte is 0x5C.
  kv::ui::SplitPath("C:\\\xA5\x5C\\d.pfx", &folder, &file);
  EXPECT_EQ("C:\\\xA5\x5C", folder);
  EXPECT_EQ("d.pfx", file);
  kv::ui::SplitPath("C:\\x\\\xA5\x5C.pfx", &folder, &file);
  EXPECT_EQ("C:\\x", folder);
  EXPECT_EQ("\xA5\x5C.pfx", file);
}

TEST(PfxPath, PathBoxText) {
  EXPECT_EQ("", kv::ui::PathBoxText("", "a.pfx"));
  EXPECT_EQ("C:\\a.pfx", kv::ui::PathBoxText("C:\\", "a.pfx"));
  EXPECT_EQ("D:\\certs\\b.p12", kv::ui::PathBoxText("D:\\certs", "b.p12"));
  EXPECT_EQ("/tmp/x.pfx", kv::ui::PathBoxText("/tmp/", "x.pfx"));
  // A folder ending in a Big5 character with a 0x5C trail byte does not end
  // in a backslash.
  EXPECT_EQ("C:\\\xA5\x5C\\e.pfx", kv::ui::PathBoxText("C:\\\xA5\x5C", "e.pfx"));
}

TEST_F(PfxDialogRules, DefaultRangeLabelAndOkForTwoPasswordDialogs) {
  CChangePfxPasswdDlg change;
  change.Start(nullptr);
  EXPECT_EQ(Ansi("請設定憑證密碼(英文或數字1～16碼)"), change.FindControl(306)->text);
  EXPECT_FALSE(change.FindControl(IDOK)->enabled);
  change.TypeText(303, "o");
  change.TypeText(304, "n");
  EXPECT_FALSE(change.FindControl(IDOK)->enabled);
  change.TypeText(305, "n");
  EXPECT_TRUE(change.FindControl(IDOK)->enabled);
  change.TypeText(304, "");
  EXPECT_FALSE(change.FindControl(IDOK)->enabled);

  CExportPfxDlg exportDlg;
  exportDlg.SetPasswordRange(6, 10);
  exportDlg.Start(nullptr);
  EXPECT_EQ(Ansi("請設定憑證密碼(英文或數字6～10碼)"), exportDlg.FindControl(306)->text);
  exportDlg.TypeText(303, "12345");
  exportDlg.TypeText(304, "123456");
  EXPECT_FALSE(exportDlg.FindControl(IDOK)->enabled);
  exportDlg.TypeText(303, "123456");
  EXPECT_TRUE(exportDlg.FindControl(IDOK)->enabled);
  for (int id : {303, 304}) {
    EXPECT_TRUE(exportDlg.FindControl(id)->password);
    EXPECT_EQ(10, exportDlg.FindControl(id)->limit);
  }
}

TEST_F(PfxDialogRules, SinglePasswordDialogsAcceptEmptyWithDefaultRange) {
  CPfxFileDlg file;
  CPfxPasswordDlg password;
  CExportMobileDlg mobile;
  for (CPasswordDialogBase* dlg : std::initializer_list<CPasswordDialogBase*>{&file, &password, &mobile}) {
    dlg->Start(nullptr);
    EXPECT_TRUE(dlg->FindControl(IDOK)->enabled) << dlg->ResourceId();
    EXPECT_TRUE(dlg->FindControl(303)->password);
  }
  EXPECT_EQ(16, file.FindControl(303)->limit);
  EXPECT_EQ(0, password.FindControl(303)->limit);  // 205 sets no limit

  CPfxFileDlg strict;
  strict.SetPasswordRange(4, 8);
  strict.Start(nullptr);
  EXPECT_FALSE(strict.FindControl(IDOK)->enabled);
  strict.TypeText(303, "abcd");
  EXPECT_TRUE(strict.FindControl(IDOK)->enabled);
  strict.TypeText(303, "abcdefghijkl");
  EXPECT_EQ("abcdefgh", strict.FindControl(303)->text);  // the limit cuts typing
}

TEST_F(PfxDialogRules, PresetPasswordsDisableTheirEditsWhenLongEnough) {
  CPfxFileDlg given;
  given.m_password = "secret";
  given.Start(nullptr);
  EXPECT_FALSE(given.FindControl(303)->enabled);
  EXPECT_EQ("secret", given.FindControl(303)->text);
  given.TypeText(303, "other");  // a disabled edit cannot be typed into
  EXPECT_EQ("secret", given.FindControl(303)->text);

  CPfxFileDlg shortPreset;
  shortPreset.m_password = "abc";
  shortPreset.SetPasswordRange(6, 10);
  shortPreset.Start(nullptr);
  EXPECT_TRUE(shortPreset.FindControl(303)->enabled);

  CChangePfxPasswdDlg change;
  change.SetPasswordRange(6, 10);
  change.m_oldPassword = "oldpass1";
  change.m_newPassword = "new";
  change.m_confirmPassword = "new";
  change.Start(nullptr);
  EXPECT_FALSE(change.FindControl(303)->enabled);
  EXPECT_TRUE(change.FindControl(304)->enabled);
  EXPECT_TRUE(change.FindControl(305)->enabled);

  CExportMobileDlg mobile;
  mobile.m_password = "secret";
  mobile.Start(nullptr);
  EXPECT_TRUE(mobile.FindControl(303)->enabled);  // never disabled
}

TEST_F(PfxDialogRules, PfxFileOkChecksThePathBox) {
  CPfxFileDlg dlg;
  dlg.Start(nullptr);
  dlg.PressButton(IDOK);
  ASSERT_EQ(1u, desktop_.messages.size());
  EXPECT_EQ("憑證檔(未指定) : 錯誤或不存在", desktop_.messages[0]);
  EXPECT_EQ("錯誤訊息", desktop_.captions[0]);
  EXPECT_EQ(static_cast<UINT>(MB_ICONHAND | MB_OK), desktop_.types[0]);
  EXPECT_FALSE(dlg.Ended());

  std::string missing = folder_.path() + "/missing.pfx";
  dlg.TypeText(302, missing);
  dlg.PressButton(IDOK);
  ASSERT_EQ(2u, desktop_.messages.size());
  EXPECT_EQ("憑證檔(" + missing + ") : 錯誤或不存在", desktop_.messages[1]);
  EXPECT_FALSE(dlg.Ended());

  std::string present = folder_.File("user.pfx");
  dlg.TypeText(302, present);
  dlg.TypeText(303, "pw");
  dlg.PressButton(IDOK);
  EXPECT_TRUE(dlg.Ended());
  EXPECT_EQ(IDOK, dlg.Result());
  EXPECT_EQ(folder_.path(), dlg.m_folder);
  EXPECT_EQ("user.pfx", dlg.m_fileName);
  EXPECT_EQ("pw", dlg.m_password);
}

TEST_F(PfxDialogRules, FileBrowseFillsThePathBox) {
  desktop_.fileAnswer = folder_.path() + "/picked.p12";
  CExportMobileDlg dlg;
  dlg.m_folder = "C:\\old";
  dlg.m_fileName = "*.pfx";
  dlg.Start(nullptr);
  EXPECT_EQ("C:\\old\\*.pfx", dlg.FindControl(302)->text);
  dlg.PressButton(301);
  ASSERT_EQ(1u, desktop_.requests.size());
  const kv::platform::OpenFileRequest& request = desktop_.requests[0];
  EXPECT_EQ("選擇憑證檔案", request.title);
  ASSERT_EQ(2u, request.filters.size());
  EXPECT_EQ("PFX Files (*.pfx;*.p12)", request.filters[0].description);
  EXPECT_EQ((std::vector<std::string>{"*.pfx", "*.p12"}), request.filters[0].patterns);
  EXPECT_EQ((std::vector<std::string>{"*.*"}), request.filters[1].patterns);
  EXPECT_EQ(static_cast<DWORD>(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOVALIDATE), request.flags);
  EXPECT_TRUE(request.initialFolder.empty());
  EXPECT_EQ(folder_.path(), dlg.m_folder);
  EXPECT_EQ("picked.p12", dlg.m_fileName);
  EXPECT_EQ(folder_.path() + "\\picked.p12", dlg.FindControl(302)->text);

  // 207 checks what the path box names: the picked file does not exist.
  dlg.PressButton(IDOK);
  EXPECT_FALSE(dlg.Ended());
  ASSERT_EQ(1u, desktop_.messages.size());
}

TEST_F(PfxDialogRules, ChangePasswordBrowseStartsInTheFolder) {
  folder_.File("a.pfx");
  CChangePfxPasswdDlg existing;
  existing.m_folder = folder_.path();
  existing.m_fileName = "a.pfx";
  existing.Start(nullptr);
  EXPECT_FALSE(existing.FindControl(301)->enabled);
  EXPECT_TRUE(existing.FindControl(302)->readOnly);

  CChangePfxPasswdDlg missing;
  missing.m_folder = folder_.path();
  missing.m_fileName = "*.pfx";
  missing.Start(nullptr);
  ASSERT_TRUE(missing.FindControl(301)->enabled);
  missing.PressButton(301);  // the desktop cancels
  ASSERT_EQ(1u, desktop_.requests.size());
  EXPECT_EQ(folder_.path(), desktop_.requests[0].initialFolder);
  for (int id : {303, 304, 305}) missing.TypeText(id, "x");
  missing.PressButton(IDOK);  // "*.pfx" names no file
  EXPECT_FALSE(missing.Ended());
  ASSERT_EQ(1u, desktop_.messages.size());
  EXPECT_EQ("憑證檔(" + folder_.path() + "\\*.pfx) : 錯誤或不存在", desktop_.messages[0]);
  missing.PressButton(IDCANCEL);
  EXPECT_EQ(IDCANCEL, missing.Result());
  EXPECT_TRUE(missing.m_folder.empty() && missing.m_fileName.empty() && missing.m_oldPassword.empty());
}

TEST_F(PfxDialogRules, ExportFolderChecks) {
  CExportPfxDlg noFolder;
  noFolder.m_fileName = "me.pfx";
  noFolder.m_password = "secret";
  noFolder.Start(nullptr);
  EXPECT_EQ("", noFolder.FindControl(302)->text);
  noFolder.PressButton(IDOK);
  ASSERT_EQ(1u, desktop_.messages.size());
  EXPECT_EQ("憑證目錄 (未指定) : 錯誤或沒有寫入權限", desktop_.messages[0]);

  noFolder.TypeText(304, "secreT");
  noFolder.PressButton(IDOK);
  ASSERT_EQ(2u, desktop_.messages.size());
  EXPECT_EQ("密碼不一致", desktop_.messages[1]);

  std::string deep = folder_.path() + "/a/b";  // two levels cannot be created
  desktop_.folderAnswer = deep;
  noFolder.TypeText(304, "secret");
  noFolder.PressButton(301);
  ASSERT_EQ(1u, desktop_.folderTitles.size());
  EXPECT_EQ("選擇憑證檔案儲存路徑 :", desktop_.folderTitles[0]);
  EXPECT_EQ(deep + "\\me.pfx", noFolder.FindControl(302)->text);
  noFolder.PressButton(IDOK);
  ASSERT_EQ(3u, desktop_.messages.size());
  EXPECT_EQ("憑證目錄 (" + deep + ") : 錯誤或沒有寫入權限", desktop_.messages[2]);
  EXPECT_FALSE(noFolder.Ended());

  // One missing level is created; the probe leaves nothing behind.
  desktop_.folderAnswer = folder_.path() + "/new";
  noFolder.PressButton(301);
  noFolder.PressButton(IDOK);
  EXPECT_TRUE(noFolder.Ended());
  EXPECT_EQ(IDOK, noFolder.Result());
  struct stat info;
  EXPECT_EQ(0, stat((folder_.path() + "/new").c_str(), &info));
  EXPECT_NE(0, stat((folder_.path() + "/new/me.pfx").c_str(), &info));
  EXPECT_EQ("secret", noFolder.m_password);
}

TEST_F(PfxDialogRules, ExportProbeKeepsAnExistingFile) {
  std::string existing = folder_.File("mine.pfx", "precious");
  CExportPfxDlg dlg;
  dlg.m_folder = folder_.path();
  dlg.m_fileName = "mine.pfx";
  dlg.m_password = "secret";
  dlg.Start(nullptr);
  dlg.PressButton(IDOK);
  EXPECT_EQ(IDOK, dlg.Result());
  EXPECT_EQ("precious", ReadFile(existing));
  EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(PfxDialogRules, PasswordDialogOkAndCancel) {
  CPfxPasswordDlg ok;
  ok.Start(nullptr);
  ok.TypeText(303, "typed");
  ok.PressButton(IDOK);
  EXPECT_EQ(IDOK, ok.Result());
  EXPECT_EQ("typed", ok.m_password);

  CPfxPasswordDlg cancel;
  cancel.m_password = "given";
  cancel.Start(nullptr);
  cancel.Close();
  EXPECT_EQ(IDCANCEL, cancel.Result());
  EXPECT_TRUE(cancel.m_password.empty());
}

}  // namespace
