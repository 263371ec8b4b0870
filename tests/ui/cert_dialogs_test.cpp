// The certificate chooser's rows, highlighted-row rule and viewing, and the
// signing confirmation's fields.
#include <gtest/gtest.h>
#include <unistd.h>

#include "ui/cert_dialogs.h"
#include "ui/dialog_test_support.h"

namespace {

using kv::test::Ansi;
using kv::test::ReadFile;
using kv::test::RecordingDesktop;
using kv::test::ScopedEnv;
using kv::test::TempFolder;

std::vector<CertChooserRow> ThreeRows() {
  const BYTE der1[] = {0x30, 0x01, 0x01};
  const BYTE der2[] = {0x30, 0x02, 0x02, 0x02};
  const BYTE der3[] = {0x30, 0x03};
  return {
      kv::ui::MakeChooserRow(Ansi("王小明"), "C=TW, CN=" + Ansi("王小明"), "010A", "2024/01/01", "2026/01/01",
                             "Test CA", "C=TW, O=Test, CN=Test CA", der1, sizeof der1),
      kv::ui::MakeChooserRow("", "C=TW, O=NoName, OU=Ops", "7F", "2024/02/02", "2025/02/02", "",
                             "C=TW, O=Issuer Without CN", der2, sizeof der2),
      kv::ui::MakeChooserRow("Third", "CN=Third", "00FF", "2023/03/03", "2027/03/03", "Test CA", "CN=Test CA",
                             der3, sizeof der3),
  };
}

TEST(CertChooser, RowsUseCommonNamesOrWholeNames) {
  std::vector<CertChooserRow> rows = ThreeRows();
  CCertChooserDlg dlg;
  dlg.m_candidates = &rows;
  dlg.Start(nullptr);
  ASSERT_EQ(5u, dlg.Columns().size());
  const char* titles[] = {"憑證持有人", "憑證序號", "起始日", "截止日", "憑證發行者"};
  const int widths[] = {150, 110, 110, 110, 180};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(Ansi(titles[i]), dlg.Columns()[i].title);
    EXPECT_EQ(widths[i], dlg.Columns()[i].width);
  }
  ASSERT_EQ(3u, dlg.Rows().size());
  EXPECT_EQ((std::vector<std::string>{Ansi("王小明"), "010A", "2024/01/01", "2026/01/01", "Test CA"}),
            dlg.Rows()[0]);
  EXPECT_EQ("C=TW, O=NoName, OU=Ops", dlg.Rows()[1][0]);
  EXPECT_EQ("C=TW, O=Issuer Without CN", dlg.Rows()[1][4]);
  EXPECT_EQ(0, dlg.HighlightedRow());
  EXPECT_EQ(0, dlg.m_selected);
}

TEST(CertChooser, HighlightedRowRule) {
  std::vector<CertChooserRow> rows = ThreeRows();
  CCertChooserDlg untouched;
  untouched.m_candidates = &rows;
  untouched.Start(nullptr);
  untouched.PressButton(IDOK);
  EXPECT_EQ(IDOK, untouched.Result());
  EXPECT_EQ(0, untouched.m_selected);

  CCertChooserDlg picked;
  picked.m_candidates = &rows;
  picked.Start(nullptr);
  picked.HighlightRow(2);
  picked.PressButton(IDOK);
  EXPECT_EQ(2, picked.m_selected);

  CCertChooserDlg cleared;
  cleared.m_candidates = &rows;
  cleared.Start(nullptr);
  cleared.HighlightRow(1);
  cleared.HighlightRow(-1);  // a click into empty space
  EXPECT_EQ(-1, cleared.HighlightedRow());
  cleared.PressButton(IDOK);
  EXPECT_EQ(0, cleared.m_selected);

  CCertChooserDlg outOfRange;
  outOfRange.m_candidates = &rows;
  outOfRange.Start(nullptr);
  outOfRange.HighlightRow(3);
  EXPECT_EQ(-1, outOfRange.HighlightedRow());
}

TEST(CertChooser, ViewWritesTempCerAndOpensIt) {
  TempFolder temp;
  ScopedEnv tmpdir("TMPDIR", temp.path().c_str());
  RecordingDesktop desktop;
  kv::platform::ScopedDesktop scope(&desktop);
  std::vector<CertChooserRow> rows = ThreeRows();
  CCertChooserDlg dlg;
  dlg.m_candidates = &rows;
  dlg.Start(nullptr);
  dlg.HighlightRow(1);
  dlg.PressButton(302);
  EXPECT_FALSE(dlg.Ended());
  EXPECT_EQ(1, dlg.m_selected);
  std::string cer = temp.path() + "/korvessa-view-" + std::to_string(getuid()) + "/temp.cer";
  EXPECT_EQ(cer, CCertChooserDlg::TempCertificatePath());
  EXPECT_EQ(std::string("\x30\x02\x02\x02", 4), ReadFile(cer));
  ASSERT_EQ(1u, desktop.documents.size());
  EXPECT_EQ(cer, desktop.documents[0]);

  dlg.HighlightRow(2);  // the second view replaces the file
  dlg.PressButton(302);
  EXPECT_EQ(std::string("\x30\x03", 2), ReadFile(cer));
  EXPECT_EQ(2u, desktop.documents.size());
  dlg.PressButton(IDCANCEL);
  EXPECT_EQ(IDCANCEL, dlg.Result());
}

TEST(SignConfirm, ShowsTheFieldsReadOnly) {
  CSignConfirmDlg dlg;
  dlg.m_content = "pay 100";
  dlg.m_serial = "010A";
  dlg.m_commonName = Ansi("王小明");
  dlg.m_notBefore = "20240101000000";
  dlg.m_notAfter = "20260101000000";
  dlg.Start(nullptr);
  EXPECT_EQ("pay 100", dlg.FindControl(301)->text);
  EXPECT_EQ("010A", dlg.FindControl(302)->text);
  EXPECT_EQ(Ansi("王小明"), dlg.FindControl(303)->text);
  EXPECT_EQ("20240101000000", dlg.FindControl(304)->text);
  EXPECT_EQ("20260101000000", dlg.FindControl(305)->text);
  for (int id = 301; id <= 305; ++id) EXPECT_TRUE(dlg.FindControl(id)->readOnly) << id;
  EXPECT_TRUE(dlg.FindControl(301)->vscroll);
  dlg.TypeText(301, "pay 1000000");  // what is signed cannot be changed
  EXPECT_EQ("pay 100", dlg.FindControl(301)->text);
  EXPECT_EQ(Ansi("執行簽章(Sign with this Certificate)"), dlg.Title());
}

}  // namespace
