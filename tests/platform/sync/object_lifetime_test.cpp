// Lifetime of named sections, events and mutexes across processes: an object
// lives while any handle anywhere holds it, its memory object and lock file
// go with the last handle (also when holders were killed), and an object
// still held is never removed from under its holders.
#include <windows.h>

#include <signal.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/sync/sync_test_support.h"
#include "sync/object_hold.h"

namespace {

using kv::test::PrivateObjectFolder;
using kv::test::RunInChild;
using kv::test::UniqueName;
using kv::test::WaitChild;

constexpr DWORD kSize = 4096;

HANDLE CreateSection(const std::string& name) {
  return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, name.c_str());
}

BYTE* Map(HANDLE mapping) {
  return static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
}

// A child that takes handles, says so, and then waits until it is killed.
class HoldingChild {
 public:
  template <class Open>
  explicit HoldingChild(Open open) {
    if (pipe(toParent_) != 0) return;
    fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      char c = open() ? 'r' : 'f';
      if (write(toParent_[1], &c, 1) != 1) _exit(2);
      for (;;) pause();
    }
  }
  ~HoldingChild() {
    if (pid_ > 0) Kill();
    close(toParent_[0]);
    close(toParent_[1]);
  }
  bool Ready() {
    char c = 0;
    return pid_ > 0 && read(toParent_[0], &c, 1) == 1 && c == 'r';
  }
  // True when the child died of the SIGKILL.
  bool Kill() {
    if (pid_ <= 0) return false;
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0) {
    }
    pid_ = -1;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

 private:
  int toParent_[2] = {-1, -1};
  pid_t pid_ = -1;
};

class ObjectLifetime : public ::testing::Test {
 protected:
  ObjectLifetime()
      : event_(UniqueName("event")), mutex_(UniqueName("mutex")), section_(UniqueName("section")) {}
  std::vector<std::string> Leftovers() const { return folder_.Leftovers({event_, mutex_, section_}); }

  // Opens all three by name, as a process joining the others would.
  bool OpenAll() const {
    HANDLE e = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, event_.c_str());
    HANDLE m = CreateMutexA(nullptr, FALSE, mutex_.c_str());
    const bool mutexExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    HANDLE s = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, section_.c_str());
    return e && m && mutexExisted && s;
  }

  PrivateObjectFolder folder_;
  std::string event_, mutex_, section_;
};

TEST_F(ObjectLifetime, TheLastCloseRemovesWhatKilledAndExitedHoldersShared) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, event_.c_str());
  HANDLE mutex = CreateMutexA(nullptr, FALSE, mutex_.c_str());
  HANDLE section = CreateSection(section_);
  ASSERT_TRUE(event && mutex && section);
  BYTE* view = Map(section);
  ASSERT_NE(view, nullptr);
  view[0] = 'P';
  ASSERT_TRUE(SetEvent(event));

  HoldingChild killed([&] { return OpenAll(); });
  ASSERT_TRUE(killed.Ready());
  EXPECT_EQ(RunInChild([&] {
              // One more holder that leaves without closing anything.
              return OpenAll() ? 0 : 1;
            }),
            0);
  EXPECT_TRUE(killed.Kill());
  EXPECT_EQ(RunInChild([&] {
              if (!OpenAll()) return 1;
              SetLastError(0xdeadbeef);
              HANDLE e = CreateEventA(nullptr, TRUE, FALSE, event_.c_str());
              if (!e || GetLastError() != ERROR_ALREADY_EXISTS) return 2;
              if (WaitForSingleObject(e, 0) != WAIT_OBJECT_0) return 3;
              HANDLE s = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, section_.c_str());
              BYTE* v = s ? Map(s) : nullptr;
              if (!v || v[0] != 'P') return 4;
              UnmapViewOfFile(v);
              // A holder that closes properly.
              for (HANDLE h : {e, s}) CloseHandle(h);
              return 0;
            }),
            0);
  EXPECT_FALSE(Leftovers().empty());

  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_TRUE(CloseHandle(section));
  EXPECT_TRUE(CloseHandle(mutex));
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});

  // As on Windows, the name is gone with its last handle.
  SetLastError(0xdeadbeef);
  EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, event_.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << "a failed open leaves nothing either";
}

TEST_F(ObjectLifetime, ObjectsWhoseLastHolderWasKilledGoWithTheNextOpen) {
  const std::string other = UniqueName("other");
  int code = RunInChild([&] {
    HANDLE e = CreateEventA(nullptr, TRUE, TRUE, event_.c_str());
    HANDLE m = CreateMutexA(nullptr, TRUE, mutex_.c_str());
    HANDLE s = CreateSection(section_);
    if (!e || !m || !s || !Map(s)) return 1;
    raise(SIGKILL);
    return 2;
  });
  EXPECT_EQ(code, -1);
  EXPECT_EQ(Leftovers().size(), 5u) << "three lock files, two memory objects";

  // A process opening any named object clears away what nobody holds.
  EXPECT_EQ(RunInChild([&] {
              HANDLE h = CreateEventA(nullptr, TRUE, FALSE, other.c_str());
              return h && CloseHandle(h) ? 0 : 1;
            }),
            0);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});

  // The killed process's state died with it.
  SetLastError(0xdeadbeef);
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, event_.c_str());
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetLastError(0xdeadbeef);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, mutex_.c_str());
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
  CloseHandle(event);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

TEST_F(ObjectLifetime, AnObjectStillHeldIsNeverRemovedFromUnderItsHolder) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, event_.c_str());
  HANDLE mutex = CreateMutexA(nullptr, TRUE, mutex_.c_str());
  ASSERT_TRUE(event && mutex);

  // Other processes open and close the names and sweep, over and over.
  constexpr int kProcesses = 3;
  fflush(nullptr);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t child = fork();
    if (child == 0) {
      for (int round = 0; round < 40; ++round) {
        SetLastError(0xdeadbeef);
        HANDLE e = CreateEventA(nullptr, TRUE, FALSE, event_.c_str());
        if (!e || GetLastError() != ERROR_ALREADY_EXISTS) _exit(1);
        if (WaitForSingleObject(e, 0) != WAIT_OBJECT_0) _exit(2);
        SetLastError(0xdeadbeef);
        HANDLE m = CreateMutexA(nullptr, FALSE, mutex_.c_str());
        if (!m || GetLastError() != ERROR_ALREADY_EXISTS) _exit(3);
        if (WaitForSingleObject(m, 0) != WAIT_TIMEOUT) _exit(4);
        CloseHandle(m);
        CloseHandle(e);
        kv::platform::sync::SweepAbandonedObjects();
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) EXPECT_EQ(WaitChild(child), 0);

  // Still one event: a reset here is what the next opener sees.
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(RunInChild([&] {
              HANDLE e = OpenEventA(SYNCHRONIZE, FALSE, event_.c_str());
              return e && WaitForSingleObject(e, 0) == WAIT_TIMEOUT ? 0 : 1;
            }),
            0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
  CloseHandle(event);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

TEST_F(ObjectLifetime, HandlesOfOneProcessHoldOnTheirOwn) {
  HANDLE first = CreateEventA(nullptr, TRUE, FALSE, event_.c_str());
  SetLastError(0xdeadbeef);
  HANDLE second = CreateEventA(nullptr, TRUE, FALSE, event_.c_str());
  ASSERT_TRUE(first && second);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(SetEvent(first));
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_FALSE(Leftovers().empty());
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

TEST_F(ObjectLifetime, AMutexComingAndGoingStillSerialises) {
  // Nobody keeps the mutex open between rounds, so its lock file is removed
  // and made again while other processes are opening it.
  HANDLE section = CreateSection(section_);
  ASSERT_NE(section, nullptr);
  auto* counter = reinterpret_cast<volatile DWORD*>(Map(section));
  ASSERT_NE(counter, nullptr);
  constexpr int kProcesses = 3;
  constexpr int kRounds = 300;
  fflush(nullptr);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t child = fork();
    if (child == 0) {
      for (int round = 0; round < kRounds; ++round) {
        HANDLE m = CreateMutexA(nullptr, FALSE, mutex_.c_str());
        if (!m || WaitForSingleObject(m, 5000) != WAIT_OBJECT_0) _exit(1);
        DWORD seen = *counter;
        usleep(20);  // widen the window a split mutex would leave open
        *counter = seen + 1;
        if (!ReleaseMutex(m) || !CloseHandle(m)) _exit(2);
        usleep(static_cast<useconds_t>(round % 7) * 30);  // let the mutex lapse now and then
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) EXPECT_EQ(WaitChild(child), 0);
  EXPECT_EQ(*counter, static_cast<DWORD>(kProcesses * kRounds));
  UnmapViewOfFile(const_cast<DWORD*>(counter));
  CloseHandle(section);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

}  // namespace
