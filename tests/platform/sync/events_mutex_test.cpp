// Named events and mutexes across processes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/sync/sync_test_support.h"

namespace {

using kv::test::RunInChild;
using kv::test::UniqueName;

TEST(Events, AnotherProcessSeesSetEvent) {
  const std::string name = UniqueName("event");
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  int code = RunInChild([&] {
    HANDLE open = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
    return open && SetEvent(open) ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(WaitForSingleObject(event, 1000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(event);
}

TEST(Mutexes, OwnershipFollowsWindowsRules) {
  const std::string name = UniqueName("mutex");
  SetLastError(0xdeadbeef);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), 0u);

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ReleaseMutex(mutex)) << "not owned";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));

  EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "the owner may wait again";
  // Another process cannot take it while it is owned here.
  EXPECT_EQ(RunInChild([&] {
              HANDLE other = CreateMutexA(nullptr, FALSE, name.c_str());
              return other && WaitForSingleObject(other, 20) == WAIT_TIMEOUT ? 0 : 1;
            }),
            0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
  EXPECT_EQ(RunInChild([&] {
              HANDLE other = CreateMutexA(nullptr, FALSE, name.c_str());
              return other && WaitForSingleObject(other, 1000) == WAIT_OBJECT_0 ? 0 : 1;
            }),
            0);
  CloseHandle(mutex);

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ReleaseMutex(reinterpret_cast<HANDLE>(0x9999)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Mutexes, SerialiseReadModifyWriteAcrossProcesses) {
  const std::string name = UniqueName("counter");
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
  ASSERT_NE(mapping, nullptr);
  auto* counter = static_cast<volatile DWORD*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(counter, nullptr);
  constexpr int kRounds = 200;
  constexpr int kProcesses = 3;
  auto work = [&] {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, (name + "_Lock").c_str());
    if (!mutex) return 1;
    for (int i = 0; i < kRounds; ++i) {
      if (WaitForSingleObject(mutex, 5000) != WAIT_OBJECT_0) return 2;
      DWORD seen = *counter;
      usleep(10);  // widen the window a missing lock would leave open
      *counter = seen + 1;
      if (!ReleaseMutex(mutex)) return 3;
    }
    return 0;
  };
  fflush(nullptr);
  pid_t children[kProcesses];
  for (pid_t& child : children) {
    child = fork();
    if (child == 0) _exit(work());
  }
  for (pid_t child : children) EXPECT_EQ(kv::test::WaitChild(child), 0);
  EXPECT_EQ(*counter, static_cast<DWORD>(kRounds * kProcesses));
  UnmapViewOfFile(const_cast<DWORD*>(counter));
  CloseHandle(mapping);
}

}  // namespace
