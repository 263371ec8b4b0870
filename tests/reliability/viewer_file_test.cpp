// The certificate viewer's "temp.cer": written into the user's private
// folder as a fresh file, so a link planted at the name cannot redirect the
// write, refusing a folder someone else planted, and gone after the process.
#include <windows.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstdio>
#include <string>

#include "support/temp_home.h"
#include "ui/cert_dialogs.h"
#include "ui/dialog_test_support.h"
#include "ui/viewer_file.h"

namespace {

using kv::test::ReadFile;
using kv::test::ScopedEnv;
using kv::test::TempFolder;
using kv::test::WriteFile;

class ViewerFile : public kv::test::HomeTest {
 protected:
  ViewerFile() : tmpdir_("TMPDIR", temp_.path().c_str()) {}
  std::string Private() const { return temp_.path() + "/korvessa-view-" + std::to_string(getuid()); }
  TempFolder temp_;
  ScopedEnv tmpdir_;
};

TEST_F(ViewerFile, PrivateFolderAndNoWriteThroughLinks) {
  // The old place, $TMPDIR/temp.cer, and the new one both carry a planted link.
  std::string victim = home_.path() + "/victim.txt";
  WriteFile(victim, "precious");
  ASSERT_EQ(0, symlink(victim.c_str(), (temp_.path() + "/temp.cer").c_str()));
  ASSERT_EQ(0, mkdir(Private().c_str(), 0777));
  chmod(Private().c_str(), 0777);
  ASSERT_EQ(0, symlink(victim.c_str(), (Private() + "/temp.cer").c_str()));

  std::string path = kv::ui::WriteViewerFile({0x30, 0x01, 0x05});
  EXPECT_EQ(Private() + "/temp.cer", path);
  EXPECT_EQ("precious", ReadFile(victim));
  struct stat st;
  ASSERT_EQ(0, lstat(path.c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  EXPECT_EQ(std::string("\x30\x01\x05", 3), ReadFile(path));
  ASSERT_EQ(0, lstat(Private().c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);

  // A second view replaces the first.
  EXPECT_EQ(path, kv::ui::WriteViewerFile({0x30, 0x00}));
  EXPECT_EQ(std::string("\x30\x00", 2), ReadFile(path));
}

TEST_F(ViewerFile, RefusesAFolderPlantedAsLink) {
  std::string elsewhere = home_.path() + "/elsewhere";
  ASSERT_EQ(0, mkdir(elsewhere.c_str(), 0777));
  ASSERT_EQ(0, symlink(elsewhere.c_str(), Private().c_str()));
  EXPECT_EQ("", kv::ui::PrivateTempFolder());
  EXPECT_EQ("", kv::ui::WriteViewerFile({0x30, 0x00}));
  EXPECT_EQ("", ReadFile(elsewhere + "/temp.cer"));
  EXPECT_EQ("", CCertChooserDlg::TempCertificatePath());
}

TEST_F(ViewerFile, RemovedWhenTheProcessEnds) {
  std::string expected = Private() + "/temp.cer";
  std::fflush(nullptr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::string path = kv::ui::WriteViewerFile({0x30, 0x00});
    // A normal end of the process: the module's clean-up runs.
    std::exit(path == expected && access(path.c_str(), F_OK) == 0 ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_NE(0, access(expected.c_str(), F_OK));
}

}  // namespace
