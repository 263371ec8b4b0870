// Named file mappings within one process: the Windows results and last
// errors of each call.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/sync/sections.h"
#include "platform/sync/unique_name.h"

namespace {

using kv::test::UniqueName;
using kv::test::sections::Create;
using kv::test::sections::kSize;
using kv::test::sections::Map;

TEST(FileMapping, SecondCreateReturnsTheExistingSectionWithAlreadyExists) {
  const std::string name = UniqueName("area");
  SetLastError(0xdeadbeef);
  HANDLE first = Create(name);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);

  SetLastError(0xdeadbeef);
  HANDLE second = Create(name, 2 * kSize);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(second, first);

  BYTE* a = Map(first);
  BYTE* b = Map(second);
  ASSERT_TRUE(a && b);
  a[100] = 0x5A;
  EXPECT_EQ(b[100], 0x5A) << "both handles name one section";
  // The existing section keeps its size whatever the second caller asked.
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_EQ(VirtualQuery(b, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.RegionSize, kSize);
  EXPECT_EQ(info.AllocationBase, b);

  EXPECT_TRUE(UnmapViewOfFile(a));
  EXPECT_TRUE(UnmapViewOfFile(b));
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(CloseHandle(second));
}

TEST(FileMapping, OpenOfAMissingNameFailsWithFileNotFound) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, UniqueName("missing").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // Creating with size 0 only opens: a missing name is a bad parameter.
  SetLastError(0xdeadbeef);
  EXPECT_EQ(Create(UniqueName("missing"), 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

#ifndef _WIN32
  // The stand-in serves paging-file sections only (Windows also takes a null
  // file handle for the paging file).
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CreateFileMappingA(nullptr, nullptr, PAGE_READWRITE, 0, kSize, UniqueName("file").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
#endif
}

TEST(FileMapping, BadHandlesAndAddressesAreRefused) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MapViewOfFile(nullptr, FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  SetLastError(0xdeadbeef);
  EXPECT_EQ(MapViewOfFile(reinterpret_cast<HANDLE>(0x4321), FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // A handle of another kind is not a mapping.
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MapViewOfFile(event, FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(event);

  HANDLE mapping = Create(UniqueName("area"));
  ASSERT_NE(mapping, nullptr);
  EXPECT_TRUE(CloseHandle(mapping));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CloseHandle(mapping));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  int local = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(UnmapViewOfFile(&local));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
}

TEST(FileMapping, ViewsOutsideTheSectionAreRefused) {
  HANDLE mapping = Create(UniqueName("area"));
  ASSERT_NE(mapping, nullptr);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 100, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MAPPED_ALIGNMENT));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kSize + 1), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  BYTE* view = Map(mapping);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(UnmapViewOfFile(view));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(UnmapViewOfFile(view)) << "a view is unmapped once";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
  CloseHandle(mapping);
}

}  // namespace
