// The stand-in's common dialogs: results and errors as the Windows calls
// report them, with and without a desktop behind them.
#include <gtest/gtest.h>

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windows.h>

#include <cstring>

#include "ui/dialog_test_support.h"

namespace {

using kv::test::RecordingDesktop;
using kv::test::TempFolder;

OPENFILENAMEA Request(char* buffer, DWORD size) {
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.lpstrFilter = "Text (*.txt;*.log)\0*.txt; *.log\0All\0*.*\0";
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = size;
  ofn.lpstrTitle = "\xBD\xD0";  // Big5 for "請"
  ofn.Flags = OFN_NOVALIDATE;
  return ofn;
}

TEST(CommonDialogs, OpenFileWithoutDesktopFails) {
  char buffer[MAX_PATH] = {0};
  OPENFILENAMEA ofn = Request(buffer, sizeof buffer);
  EXPECT_FALSE(GetOpenFileNameA(&ofn));
  EXPECT_EQ(static_cast<DWORD>(CDERR_DIALOGFAILURE), CommDlgExtendedError());
  ofn.lStructSize = 12;
  EXPECT_FALSE(GetOpenFileNameA(&ofn));
  EXPECT_EQ(static_cast<DWORD>(CDERR_STRUCTSIZE), CommDlgExtendedError());
}

TEST(CommonDialogs, OpenFileThroughTheDesktop) {
  RecordingDesktop desktop;
  kv::platform::ScopedDesktop scope(&desktop);
  char buffer[MAX_PATH] = {0};
  char title[16] = {0};
  OPENFILENAMEA ofn = Request(buffer, sizeof buffer);
  ofn.lpstrFileTitle = title;
  ofn.nMaxFileTitle = sizeof title;
  EXPECT_FALSE(GetOpenFileNameA(&ofn));  // cancelled
  EXPECT_EQ(0u, CommDlgExtendedError());
  ASSERT_EQ(1u, desktop.requests.size());
  EXPECT_EQ("請", desktop.requests[0].title);
  ASSERT_EQ(2u, desktop.requests[0].filters.size());
  EXPECT_EQ((std::vector<std::string>{"*.txt", "*.log"}), desktop.requests[0].filters[0].patterns);
  EXPECT_EQ("All", desktop.requests[0].filters[1].description);

  desktop.fileAnswer = "/data/\xE8\xAB\x8B.txt";  // UTF-8 file name comes back in Big5
  ASSERT_TRUE(GetOpenFileNameA(&ofn));
  EXPECT_STREQ("/data/\xBD\xD0.txt", buffer);
  EXPECT_EQ(6, ofn.nFileOffset);
  EXPECT_EQ(9, ofn.nFileExtension);
  EXPECT_STREQ("\xBD\xD0.txt", title);

  char small[8];
  ofn = Request(small, sizeof small);
  EXPECT_FALSE(GetOpenFileNameA(&ofn));
  EXPECT_EQ(static_cast<DWORD>(FNERR_BUFFERTOOSMALL), CommDlgExtendedError());
  WORD needed;
  std::memcpy(&needed, small, sizeof needed);
  EXPECT_EQ(13, needed);  // the path and its terminator
}

TEST(CommonDialogs, FolderBrowserItemList) {
  BROWSEINFOA info = {};
  char name[MAX_PATH];
  info.pszDisplayName = name;
  SetLastError(0xdeadbeef);
  EXPECT_EQ(nullptr, SHBrowseForFolderA(&info));  // no desktop
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());

  RecordingDesktop desktop;
  kv::platform::ScopedDesktop scope(&desktop);
  EXPECT_EQ(nullptr, SHBrowseForFolderA(&info));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), GetLastError());
  desktop.folderAnswer = "/home/user/certs";
  PIDLIST_ABSOLUTE list = SHBrowseForFolderA(&info);
  ASSERT_NE(nullptr, list);
  EXPECT_STREQ("certs", name);
  char path[MAX_PATH];
  ASSERT_TRUE(SHGetPathFromIDListA(list, path));
  EXPECT_STREQ("/home/user/certs", path);
  CoTaskMemFree(list);
  EXPECT_FALSE(SHGetPathFromIDListA(nullptr, path));
  EXPECT_STREQ("", path);
}

TEST(CommonDialogs, MessageBoxAndShellOpen) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(0, MessageBoxA(nullptr, "x", "y", MB_OK));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());

  TempFolder temp;
  std::string file = temp.File("a.cer");
  RecordingDesktop desktop;
  kv::platform::ScopedDesktop scope(&desktop);
  EXPECT_EQ(IDOK, MessageBoxA(nullptr, "\xBF\xF9\xBB\x7E", nullptr, MB_ICONHAND));
  EXPECT_EQ("錯誤", desktop.messages[0]);
  EXPECT_EQ("Error", desktop.captions[0]);

  EXPECT_EQ(SE_ERR_FNF, reinterpret_cast<INT_PTR>(
                            ShellExecuteA(nullptr, "open", (temp.path() + "/none.cer").c_str(), nullptr, "", SW_SHOWDEFAULT)));
  EXPECT_EQ(SE_ERR_NOASSOC, reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "print", file.c_str(), nullptr, "", 0)));
  EXPECT_GT(reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", file.c_str(), nullptr, "", SW_SHOWDEFAULT)), 32);
  ASSERT_EQ(1u, desktop.documents.size());
  EXPECT_EQ(file, desktop.documents[0]);
}

}  // namespace
