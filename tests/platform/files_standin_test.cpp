// File calls where the stand-in meets the POSIX side: its shared handle
// table, names in the ANSI code page on a UTF-8 file system with owner-only
// modes, and the temporary folder taken from TMPDIR.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "handles/handle_table.h"
#include "platform/files_fixture.h"

namespace {

using kv::test::Files;
using kv::test::kUntouched;

TEST_F(Files, HandleTableRefusesUnknownAndForeignHandles) {
  HANDLE h = Open(Name("c.bin"), GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetLastError(kUntouched);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), kUntouched);
  SetLastError(kUntouched);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  DWORD n = 0;
  char c;
  SetLastError(kUntouched);
  EXPECT_FALSE(ReadFile(h, &c, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(kUntouched);
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(kUntouched);
  EXPECT_EQ(GetFileSize(reinterpret_cast<HANDLE>(0x12345), nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // An object of another kind: file calls refuse it, CloseHandle releases it.
  struct Probe : kv::platform::HandleObject {
    explicit Probe(bool* gone) : HandleObject(kv::platform::HandleKind::Event), gone_(gone) {}
    ~Probe() override { *gone_ = true; }
    bool* gone_;
  };
  bool gone = false;
  HANDLE event = kv::platform::RegisterHandle(std::make_shared<Probe>(&gone));
  ASSERT_NE(event, nullptr);
  SetLastError(kUntouched);
  EXPECT_FALSE(WriteFile(event, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(gone);
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_TRUE(gone);
  EXPECT_EQ(kv::platform::CountHandles(kv::platform::HandleKind::File), 0u);
}

TEST_F(Files, NamesInTheAnsiCodePage) {
  kv::test::ScopedEnv cp("KORVESSA_CODEPAGE", nullptr);
  // 功 is A5 5C in Big5: its trail byte must not split the name.
  std::string big5 = Name("\xA5\x5C\xAF\xE0.txt");
  HANDLE h = Open(big5, GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  struct stat st;
  ASSERT_EQ(stat(Posix(u8"功能.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "new files belong to the owner only";
  EXPECT_TRUE(PathFileExistsA(big5.c_str()));
  EXPECT_NE(GetFileAttributesA((home_.path() + "/\xA5\x5C\xAF\xE0.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(DeleteFileA(big5.c_str()));
}

TEST_F(Files, TemporaryFolderAndNames) {
  kv::test::ScopedEnv tmp("TMPDIR", home_.path().c_str());
  std::string expected = home_.path() + "/";
  char path[MAX_PATH];
  SetLastError(kUntouched);
  EXPECT_EQ(GetTempPathA(MAX_PATH, path), expected.size());
  EXPECT_EQ(path, expected);
  EXPECT_EQ(GetLastError(), kUntouched);
  // Too small: the size needed, terminator included.
  char tiny[2] = {'q', 'q'};
  EXPECT_EQ(GetTempPathA(sizeof tiny, tiny), expected.size() + 1);
  EXPECT_EQ(tiny[0], 'q');
  {
    kv::test::ScopedEnv unset("TMPDIR", nullptr);
    EXPECT_EQ(GetTempPathA(MAX_PATH, path), 5u);
    EXPECT_STREQ(path, "/tmp/");
  }

  char name[MAX_PATH] = {};
  UINT unique = GetTempFileNameA(home_.path().c_str(), "kvx", 0, name);
  ASSERT_NE(unique, 0u);
  EXPECT_TRUE(PathFileExistsA(name)) << "a generated name is created";
  EXPECT_EQ(std::string(name).rfind(home_.path() + "/kvx", 0), 0u);
  char other[MAX_PATH] = {};
  UINT again = GetTempFileNameA(home_.path().c_str(), "kvx", 0, other);
  EXPECT_NE(again, unique);
  EXPECT_EQ(GetTempFileNameA(home_.path().c_str(), "pre", 0x1234, other), 0x1234u);
  EXPECT_EQ(std::string(other), home_.path() + "/pre1234.tmp");
  EXPECT_FALSE(PathFileExistsA(other));
  SetLastError(kUntouched);
  EXPECT_EQ(GetTempFileNameA(Name("nodir").c_str(), "kvx", 0, other), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

}  // namespace
