// File handles and file-system calls, checked the way Windows behaves: each
// call runs after SetLastError(0xdeadbeef), and both its result and the last
// error are pinned.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/files_fixture.h"
#include "support/conformance.h"

namespace {

using kv::test::Files;
using kv::test::kUntouched;

TEST_F(Files, DispositionsAndTheirLastErrors) {
  std::string name = Name("a.bin");
  SetLastError(kUntouched);
  HANDLE h = Open(name, GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 0u);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "hello", 5, &written, nullptr));
  EXPECT_EQ(written, 5u);
  EXPECT_TRUE(CloseHandle(h));

  SetLastError(kUntouched);
  EXPECT_EQ(Open(name, GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

  // OPEN_ALWAYS keeps the content and reports that the file was there.
  SetLastError(kUntouched);
  h = Open(name, GENERIC_READ, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetFileSize(h, nullptr), 5u);
  CloseHandle(h);

  // CREATE_ALWAYS truncates and says so the same way.
  SetLastError(kUntouched);
  h = Open(name, GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);

  SetLastError(kUntouched);
  h = Open(Name("fresh.bin"), GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(h);

  Put("t.bin", "content");
  h = Open(Name("t.bin"), GENERIC_WRITE, 0, TRUNCATE_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(Get("t.bin"), "");

  SetLastError(kUntouched);
  EXPECT_EQ(Open(Name("t.bin"), GENERIC_READ, 0, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  KV_WINE_DIFFERS("CreateFile opens for TRUNCATE_EXISTING without GENERIC_WRITE (a to-do in Wine's own tests)");
  SetLastError(kUntouched);
  EXPECT_EQ(Open(Name("t.bin"), GENERIC_READ, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(Files, MissingFileAndMissingFolderAreTold) {
  SetLastError(kUntouched);
  EXPECT_EQ(Open(Name("none.bin"), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_EQ(Open(Name("nodir\\none.bin"), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_EQ(Open(Name("nodir\\new.bin"), GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_EQ(Open("", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_EQ(Open(Name("what?.bin"), GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  // A folder is not a file.
  SetLastError(kUntouched);
  EXPECT_EQ(Open(home_.path(), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(Files, ReadWriteAndRights) {
  std::string name = Name("rw.bin");
  HANDLE h = Open(name, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "0123456789", 10, &n, nullptr));
  EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_BEGIN), 2u);
  char buf[16] = {};
  SetLastError(kUntouched);
  ASSERT_TRUE(ReadFile(h, buf, 4, &n, nullptr));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buf, 4), "2345");
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 7u);
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "789");
  // At the end a synchronous read succeeds with nothing read.
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 0u);
  // A positioned read takes the offset from OVERLAPPED and moves the pointer.
  OVERLAPPED at = {};
  at.Offset = 8;
  ASSERT_TRUE(ReadFile(h, buf, 1, &n, &at));
  EXPECT_EQ(buf[0], '8');
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 9u);
  EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 4u);
  SetLastError(kUntouched);
  EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  SetLastError(kUntouched);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, 3), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(h);

  h = Open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetLastError(kUntouched);
  EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE w = Open(name, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_EQ(w, INVALID_HANDLE_VALUE) << "the first handle does not share writing";
  CloseHandle(h);

  h = Open(name, GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetLastError(kUntouched);
  EXPECT_FALSE(ReadFile(h, buf, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // Writing nothing changes nothing.
  ASSERT_TRUE(WriteFile(h, "", 0, &n, nullptr));
  EXPECT_EQ(n, 0u);
  CloseHandle(h);
  EXPECT_EQ(Get("rw.bin"), "0123");
}

TEST_F(Files, ShareModesBetweenHandles) {
  Put("s.bin", "keep me");
  std::string name = Name("s.bin");
  HANDLE first = Open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  HANDLE second = Open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  CloseHandle(second);
  // Refused, and the refused CREATE_ALWAYS must not have truncated anything.
  SetLastError(kUntouched);
  EXPECT_EQ(Open(name, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(Get("s.bin"), "keep me");
  // The newcomer must also share what the first handle already does.
  SetLastError(kUntouched);
  EXPECT_EQ(Open(name, GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  SetLastError(kUntouched);
  EXPECT_FALSE(DeleteFileA(name.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  SetLastError(kUntouched);
  EXPECT_FALSE(MoveFileExA(name.c_str(), Name("moved.bin").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(first);

  first = Open(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeleteFileA(name.c_str()));
  CloseHandle(first);
  EXPECT_FALSE(PathFileExistsA(name.c_str()));
}

TEST_F(Files, BeyondFourGibibytes) {
  std::string name = Name("big.bin");
  HANDLE h = Open(name, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const LONGLONG at = 5LL << 30;  // 5 GiB, sparse
  LARGE_INTEGER move, pos;
  move.QuadPart = at;
  ASSERT_TRUE(SetFilePointerEx(h, move, &pos, FILE_BEGIN));
  EXPECT_EQ(pos.QuadPart, at);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "Z", 1, &n, nullptr));
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(size.QuadPart, at + 1);
  DWORD high = 0;
  EXPECT_EQ(GetFileSize(h, &high), 0x40000001u);
  EXPECT_EQ(high, 1u);
  LONG moveHigh = 1;
  EXPECT_EQ(SetFilePointer(h, 0x40000000, &moveHigh, FILE_BEGIN), 0x40000000u);
  EXPECT_EQ(moveHigh, 1);
  char c = 0;
  ASSERT_TRUE(ReadFile(h, &c, 1, &n, nullptr));
  EXPECT_EQ(c, 'Z');
  // A position whose low half is all ones is a success, not the failure value.
  moveHigh = 0;
  SetLastError(kUntouched);
  EXPECT_EQ(SetFilePointer(h, -1, &moveHigh, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(moveHigh, 0);
  EXPECT_EQ(GetLastError(), 0u);
  // A size whose low half is all ones is a size, not the failure value.
  move.QuadPart = 0xFFFFFFFFLL;
  ASSERT_TRUE(SetFilePointerEx(h, move, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(h));
  SetLastError(kUntouched);
  EXPECT_EQ(GetFileSize(h, &high), INVALID_FILE_SIZE);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
  CloseHandle(h);
  EXPECT_FALSE(PathFileExistsA(name.c_str())) << "FILE_FLAG_DELETE_ON_CLOSE";
}

TEST_F(Files, WithoutTheHighHalfThePositionMustFit32Bits) {
  KV_WINE_DIFFERS("SetFilePointer without lpDistanceToMoveHigh returns the low half of a position past 4 GiB");
  HANDLE h = Open(Name("big.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = 5LL << 30;  // sparse
  ASSERT_TRUE(SetFilePointerEx(h, end, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(h));
  SetLastError(kUntouched);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(h);
}

TEST_F(Files, AttributesFoldersAndDeletion) {
  Put("f.txt", "x");
  SetLastError(kUntouched);
  DWORD attributes = GetFileAttributesA(Name("f.txt").c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_TRUE(GetFileAttributesA(home_.path().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  SetLastError(kUntouched);
  EXPECT_EQ(GetFileAttributesA(Name("none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_FALSE(PathFileExistsA(Name("none\\deeper").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(PathFileExistsA(nullptr));

  std::string dir = Name("sub");
  SetLastError(kUntouched);
  EXPECT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), kUntouched);
  SetLastError(kUntouched);
  EXPECT_FALSE(CreateDirectoryA(dir.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  SetLastError(kUntouched);
  EXPECT_FALSE(CreateDirectoryA(Name("a\\b\\c").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
#ifndef _WIN32
  // The stand-in's folders belong to the owner only.
  struct stat st;
  ASSERT_EQ(stat(Posix("sub").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
#endif

  Put("sub/inner.txt", "y");
  SetLastError(kUntouched);
  EXPECT_FALSE(RemoveDirectoryA(dir.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  SetLastError(kUntouched);
  EXPECT_FALSE(DeleteFileA(dir.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  SetLastError(kUntouched);
  EXPECT_FALSE(RemoveDirectoryA(Name("f.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_TRUE(DeleteFileA((dir + "/inner.txt").c_str()));
  EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
  SetLastError(kUntouched);
  EXPECT_FALSE(DeleteFileA(Name("f.txt\\x").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_FALSE(DeleteFileA(Name("gone.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Files, ReadOnlyFilesRefuseWritingAndDeletion) {
  std::string name = Name("ro.txt");
  HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n;
  EXPECT_TRUE(WriteFile(h, "abc", 3, &n, nullptr)) << "the creating handle may write";
  CloseHandle(h);
  EXPECT_TRUE(GetFileAttributesA(name.c_str()) & FILE_ATTRIBUTE_READONLY);
  KV_WINE_DIFFERS("the read-only attribute is kept as the Unix file mode, which does not hold a process "
                  "running as root");
  SetLastError(kUntouched);
  EXPECT_EQ(Open(name, GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  SetLastError(kUntouched);
  EXPECT_FALSE(DeleteFileA(name.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Get("ro.txt"), "abc");
}

TEST_F(Files, MoveFileEx) {
  Put("from.txt", "one");
  Put("to.txt", "two");
  SetLastError(kUntouched);
  EXPECT_FALSE(MoveFileExA(Name("from.txt").c_str(), Name("to.txt").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Get("to.txt"), "two");
  SetLastError(kUntouched);
  EXPECT_TRUE(MoveFileExA(Name("from.txt").c_str(), Name("to.txt").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_EQ(Get("to.txt"), "one");
  EXPECT_FALSE(PathFileExistsA(Name("from.txt").c_str()));
  SetLastError(kUntouched);
  EXPECT_FALSE(MoveFileExA(Name("from.txt").c_str(), Name("x.txt").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(MoveFileA(Name("to.txt").c_str(), Name("back.txt").c_str()));
  EXPECT_EQ(Get("back.txt"), "one");
}

}  // namespace
