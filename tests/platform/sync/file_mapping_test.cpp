// Named file mappings: the Windows results and last errors of each call,
// Windows lifetime across processes (last holder gone -> next creator starts
// zeroed, a crashed holder keeps nothing alive), and owner-only access.
#include <windows.h>

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/sync/sections.h"
#include "platform/sync/sync_test_support.h"
#include "sync/named_objects.h"

namespace {

using kv::test::RunInChild;
using kv::test::UniqueName;
using kv::test::sections::Create;
using kv::test::sections::kSize;
using kv::test::sections::Map;

bool AllZero(const BYTE* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

std::string ShmPath(const std::string& name) { return "/dev/shm" + kv::platform::sync::ShmName("section", name); }

TEST(FileMapping, LastHolderClosingLetsTheNextCreatorStartZeroed) {
  const std::string name = UniqueName("area");
  HANDLE mapping = Create(name);
  ASSERT_NE(mapping, nullptr);
  BYTE* view = Map(mapping);
  ASSERT_NE(view, nullptr);
  std::memset(view, 0xA5, kSize);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_TRUE(CloseHandle(mapping));

  // Nothing of it is left behind for other processes to find.
  struct stat st;
  EXPECT_NE(stat(ShmPath(name).c_str(), &st), 0);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  SetLastError(0xdeadbeef);
  mapping = Create(name);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(GetLastError(), 0u) << "a new section, not the old one";
  view = Map(mapping);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(AllZero(view, kSize));
  UnmapViewOfFile(view);
  CloseHandle(mapping);
}

TEST(FileMapping, AViewKeepsTheSectionAliveAfterItsHandleCloses) {
  const std::string name = UniqueName("area");
  HANDLE mapping = Create(name);
  ASSERT_NE(mapping, nullptr);
  BYTE* view = Map(mapping);
  ASSERT_NE(view, nullptr);
  view[7] = 42;
  EXPECT_TRUE(CloseHandle(mapping));

  SetLastError(0xdeadbeef);
  HANDLE again = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
  ASSERT_NE(again, nullptr);
  BYTE* second = Map(again);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second[7], 42);
  UnmapViewOfFile(second);
  CloseHandle(again);
  EXPECT_EQ(view[7], 42) << "the first view still works";
  UnmapViewOfFile(view);
}

TEST(FileMapping, ACrashedHolderKeepsNoStaleContentAlive) {
  const std::string name = UniqueName("area");
  for (int how = 0; how < 2; ++how) {
    int code = RunInChild([&] {
      HANDLE mapping = Create(name);
      BYTE* view = mapping ? Map(mapping) : nullptr;
      if (!view) return 1;
      std::memset(view, 0x77, kSize);
      if (how == 1) raise(SIGKILL);
      return 0;  // _exit: no cleanup at all
    });
    EXPECT_EQ(code, how == 0 ? 0 : -1);

    SetLastError(0xdeadbeef);
    HANDLE mapping = Create(name);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    BYTE* view = Map(mapping);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(AllZero(view, kSize)) << "crash by " << (how ? "SIGKILL" : "_exit");
    UnmapViewOfFile(view);
    CloseHandle(mapping);
  }
}

TEST(FileMapping, ProcessesShareTheSectionAndAForkedChildHoldsItToo) {
  const std::string name = UniqueName("area");
  HANDLE mapping = Create(name);
  ASSERT_NE(mapping, nullptr);
  BYTE* view = Map(mapping);
  ASSERT_NE(view, nullptr);
  view[0] = 'P';

  // A child that opens the name sees the parent's bytes, and the parent its.
  int code = RunInChild([&] {
    HANDLE open = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    BYTE* v = open ? Map(open) : nullptr;
    if (!v || v[0] != 'P') return 1;
    v[1] = 'C';
    return 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(view[1], 'C');

  // The child still holds what it inherited after the parent lets go. (It
  // takes its holds while starting; the parent waits for it to run first.)
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    char c;
    if (write(toParent[1], "r", 1) != 1) _exit(5);
    if (read(toChild[0], &c, 1) != 1) _exit(2);
    view[2] = 'K';
    if (write(toParent[1], "x", 1) != 1) _exit(3);
    if (read(toChild[0], &c, 1) != 1) _exit(4);
    _exit(0);
  }
  ASSERT_GT(child, 0);
  char c;
  EXPECT_EQ(read(toParent[0], &c, 1), 1);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_TRUE(CloseHandle(mapping));
  EXPECT_EQ(write(toChild[1], "x", 1), 1);
  EXPECT_EQ(read(toParent[0], &c, 1), 1);
  SetLastError(0xdeadbeef);
  mapping = Create(name);
  EXPECT_NE(mapping, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  view = mapping ? Map(mapping) : nullptr;
  EXPECT_NE(view, nullptr);
  if (view) {
    EXPECT_EQ(view[0], 'P');
    EXPECT_EQ(view[2], 'K');
    UnmapViewOfFile(view);
  }
  EXPECT_EQ(write(toChild[1], "x", 1), 1);
  EXPECT_EQ(kv::test::WaitChild(child), 0);
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
  if (mapping) CloseHandle(mapping);
}

TEST(FileMapping, ObjectsArePrivateToTheirUser) {
  const std::string name = UniqueName("area");
  HANDLE mapping = Create(name);
  ASSERT_NE(mapping, nullptr);
  struct stat st;
  ASSERT_EQ(stat(ShmPath(name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_uid, getuid());
  const std::string folder = kv::platform::sync::LockFolder();
  ASSERT_FALSE(folder.empty());
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  CloseHandle(mapping);
}

}  // namespace
