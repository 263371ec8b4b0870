// The shared key/value area byte for byte: entry layout, error numbers,
// in-place updates, removal, survival of a corrupted area, and several
// processes reading and writing one area, and nothing of it left once the
// last process lets go.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/sync/sync_test_support.h"
#include "sign/shared_memory.h"
#include "support/shared_area_layout.h"

namespace {

using kv::test::RunInChild;
using kv::test::UniqueName;

constexpr DWORD kArea = 20480;

using kv::test::StoredEntry;

DWORD Dword(const BYTE* p) { return kv::test::LeDword(p); }

std::vector<StoredEntry> Entries(const cSharedMemory& area, DWORD* end) {
  std::vector<StoredEntry> entries = kv::test::ReadAreaEntries(area, end);
  for (const StoredEntry& e : entries) EXPECT_TRUE(e.keyIsAscii) << e.key;
  return entries;
}

bool ZeroFrom(const cSharedMemory& area, DWORD from) { return kv::test::AreaZeroFrom(area, from); }


class SharedAreaTest : public ::testing::Test {
 protected:
  SharedAreaTest() : area_(UniqueName("area"), kArea) {}
  cSharedMemory area_;
};

TEST_F(SharedAreaTest, ANewAreaIsZeroApartFromItsSize) {
  ASSERT_TRUE(area_.IsReady());
  EXPECT_TRUE(area_.Created());
  EXPECT_EQ(area_.AreaSize(), kArea);
  EXPECT_EQ(Dword(area_.View()), 0u);
  EXPECT_EQ(Dword(area_.View() + 4), kArea);
  EXPECT_TRUE(ZeroFrom(area_, 8));

  // A second object on the same name opens it and takes the header's size.
  cSharedMemory opener(UniqueName("area"), 4096);
  ASSERT_TRUE(opener.IsReady());
  EXPECT_FALSE(opener.Created());
  EXPECT_EQ(opener.AreaSize(), kArea);
}

TEST_F(SharedAreaTest, AddWritesEntriesBackToBack) {
  ASSERT_TRUE(area_.AddInt("signerMedia", 1));
  const std::string cert(300, '\x30');
  ASSERT_TRUE(area_.Add("signerCertBytes", cert.data(), static_cast<DWORD>(cert.size())));
  ASSERT_TRUE(area_.Add("k", "xyz", 3));

  const BYTE* v = area_.View();
  EXPECT_EQ(Dword(v), 3u);
  // First entry header: "signerMedia" in UTF-16LE, zero padding, length 4.
  std::vector<BYTE> key(80, 0);
  const char* name = "signerMedia";
  for (size_t i = 0; name[i]; ++i) key[2 * i] = static_cast<BYTE>(name[i]);
  EXPECT_EQ(std::memcmp(v + 8, key.data(), 80), 0);
  EXPECT_EQ(Dword(v + 88), 4u);
  EXPECT_EQ(Dword(v + 92), 1u);
  DWORD end = 0;
  auto entries = Entries(area_, &end);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].key, "signerCertBytes");
  EXPECT_EQ(entries[1].value, cert);
  EXPECT_EQ(entries[2].key, "k");
  EXPECT_EQ(end, 8u + 88 + 384 + 87);
  EXPECT_TRUE(ZeroFrom(area_, end));

  SetLastError(0xdeadbeef);
  EXPECT_EQ(area_.Add("k", "abc", 3), 0);
  EXPECT_EQ(area_.LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(area_.Add("K", "abc", 3), 1) << "keys compare with case";
  EXPECT_EQ(area_.Add("empty", "abc", 0), 0);
  EXPECT_EQ(area_.LastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
}

TEST_F(SharedAreaTest, KeysHoldAtMostThirtyNineCharacters) {
  const std::string key39(39, 'k');
  const std::string key40(40, 'k');
  SetLastError(0xdeadbeef);
  EXPECT_EQ(area_.Add(key40, "v", 1), 0);
  EXPECT_EQ(GetLastError(), 1743u);
  EXPECT_EQ(Dword(area_.View()), 0u);
  EXPECT_EQ(area_.Add(key39, "v", 1), 1);
  EXPECT_EQ(area_.Exists(key39), 1);
  // 39 code units, then the terminating zero unit inside the 80 bytes.
  EXPECT_EQ(area_.View()[8 + 76], 'k');
  EXPECT_EQ(area_.View()[8 + 78], 0);
  EXPECT_EQ(area_.View()[8 + 79], 0);
}

TEST_F(SharedAreaTest, AValuePastTheEndFailsAndChangesNothing) {
  ASSERT_TRUE(area_.AddInt("first", 7));
  const std::vector<BYTE> before(area_.View(), area_.View() + kArea);
  // 8 + 88 used; an entry of 84 + n ending exactly at 20480 fits, one more byte does not.
  const DWORD fits = kArea - 8 - 88 - 84;
  std::vector<BYTE> big(fits + 1, 0xEE);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(area_.Add("big", big.data(), fits + 1), 0);
  EXPECT_EQ(area_.LastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
  EXPECT_EQ(std::vector<BYTE>(area_.View(), area_.View() + kArea), before);
  EXPECT_EQ(area_.Add("big", big.data(), fits), 1);
  EXPECT_EQ(area_.View()[kArea - 1], 0xEE);
}

TEST_F(SharedAreaTest, UpdateRewritesInPlaceAndKeepsTheStoredLength) {
  ASSERT_TRUE(area_.Add("a", "12345678", 8));
  ASSERT_TRUE(area_.Add("b", "tail", 4));
  ASSERT_TRUE(area_.Update("a", "xyz", 3));
  DWORD end = 0;
  auto entries = Entries(area_, &end);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].value, std::string("xyz\0\0\0\0\0", 8));
  EXPECT_EQ(entries[1].value, std::string("tail"));

  SetLastError(0xdeadbeef);
  EXPECT_EQ(area_.Update("a", "123456789", 9), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(Entries(area_, &end)[0].value[0], 'x') << "a failed update leaves the value";
  EXPECT_EQ(area_.Update("missing", "1", 1), 0);
  EXPECT_EQ(area_.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(area_.Update("a", "1", 0), 0);
  EXPECT_EQ(area_.LastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
  EXPECT_TRUE(area_.UpdateInt("b", -2));
  EXPECT_EQ(area_.ReadInt("b", 0), -2);
}

TEST_F(SharedAreaTest, ReadReportsTheStoredLength) {
  ASSERT_TRUE(area_.Add("v", "0123456789", 10));
  DWORD length = 0;
  ASSERT_TRUE(area_.Read("v", nullptr, &length));
  EXPECT_EQ(length, 10u);
  char small[4] = {};
  length = sizeof small;
  SetLastError(0xdeadbeef);
  EXPECT_EQ(area_.Read("v", small, &length), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(length, 10u);
  char exact[10];
  ASSERT_TRUE(area_.Read("v", exact, &length));
  EXPECT_EQ(std::string(exact, 10), "0123456789");
  length = 4;
  EXPECT_EQ(area_.Read("none", small, &length), 0);
  EXPECT_EQ(area_.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_EQ(area_.ReadInt("v", 99), 99) << "longer than an int";
  EXPECT_EQ(area_.ReadInt("none", -1), -1);
  ASSERT_TRUE(area_.AddInt("n", 0x01020304));
  EXPECT_EQ(area_.ReadInt("n", 0), 0x01020304);
}

TEST_F(SharedAreaTest, RemoveClosesTheGapAndZeroesTheFreedBytes) {
  ASSERT_TRUE(area_.Add("one", "1111", 4));
  ASSERT_TRUE(area_.Add("two", "2222222222", 10));
  ASSERT_TRUE(area_.Add("three", "333", 3));
  ASSERT_TRUE(area_.Remove("two"));
  DWORD end = 0;
  auto entries = Entries(area_, &end);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].key, "one");
  EXPECT_EQ(entries[1].key, "three");
  EXPECT_EQ(entries[1].value, std::string("333"));
  EXPECT_EQ(end, 8u + 88 + 87);
  EXPECT_TRUE(ZeroFrom(area_, end));

  SetLastError(0xdeadbeef);
  EXPECT_EQ(area_.Remove("two"), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(area_.Remove("one"));
  ASSERT_TRUE(area_.Remove("three"));
  EXPECT_EQ(Dword(area_.View()), 0u);
  EXPECT_TRUE(ZeroFrom(area_, 8));
  EXPECT_EQ(area_.Remove("one"), 0);
  EXPECT_EQ(area_.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SharedAreaTest, ChangesSignalTheNamedEvents) {
  const std::string name = UniqueName("area");
  HANDLE areaEvent = CreateEventA(nullptr, TRUE, FALSE, (name + "_Event").c_str());
  const std::string key = "kv" + std::to_string(getpid());
  HANDLE keyEvent = CreateEventA(nullptr, TRUE, FALSE, (key + "_Event").c_str());
  ASSERT_TRUE(areaEvent && keyEvent);
  ResetEvent(keyEvent);
  ASSERT_TRUE(area_.Add(key, "1", 1));
  EXPECT_EQ(WaitForSingleObject(areaEvent, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(keyEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ResetEvent(areaEvent);
  ASSERT_TRUE(area_.Update(key, "2", 1));
  EXPECT_EQ(WaitForSingleObject(keyEvent, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(areaEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ResetEvent(keyEvent);
  ASSERT_TRUE(area_.Remove(key));
  EXPECT_EQ(WaitForSingleObject(keyEvent, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(areaEvent, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(areaEvent);
  CloseHandle(keyEvent);
}

TEST_F(SharedAreaTest, ACorruptedAreaIsSurvived) {
  ASSERT_TRUE(area_.Add("a", "1111", 4));
  ASSERT_TRUE(area_.Add("b", "2222", 4));
  BYTE* v = const_cast<BYTE*>(area_.View());
  auto expectNothingWorks = [&](const char* what) {
    SCOPED_TRACE(what);
    DWORD length = 0;
    char buffer[8];
    EXPECT_EQ(area_.Exists("b"), 0);
    EXPECT_EQ(area_.Read("b", nullptr, &length), 0);
    length = sizeof buffer;
    EXPECT_EQ(area_.Read("b", buffer, &length), 0);
    EXPECT_EQ(area_.ReadInt("b", -1), -1);
    EXPECT_EQ(area_.Add("c", "3", 1), 0);
    EXPECT_EQ(area_.Update("b", "x", 1), 0);
    EXPECT_EQ(area_.Remove("b"), 0);
  };
  const std::vector<BYTE> good(v, v + kArea);

  // A count that runs past the entries.
  v[0] = 0x2C;  // 300 entries of at least 84 bytes cannot fit
  v[1] = 0x01;
  expectNothingWorks("count");
  // A length that runs past the area, on the second entry and on the first.
  std::memcpy(v, good.data(), kArea);
  v[8 + 88 + 80 + 2] = 0x01;  // b's length becomes 0x10004
  expectNothingWorks("length");
  std::memcpy(v, good.data(), kArea);
  v[8 + 80 + 3] = 0xFF;
  expectNothingWorks("huge length");
  // A length ending exactly at the area's end is still sound.
  std::memcpy(v, good.data(), kArea);
  const DWORD last = kArea - (8 + 88 + 84);
  v[8 + 88 + 80] = BYTE(last);
  v[8 + 88 + 81] = BYTE(last >> 8);
  EXPECT_EQ(area_.Exists("b"), 1);
  // The count all ones.
  std::memcpy(v, good.data(), kArea);
  std::memset(v, 0xFF, 4);
  expectNothingWorks("count all ones");

  // Once mended, the area works again.
  std::memcpy(v, good.data(), kArea);
  EXPECT_EQ(area_.ReadInt("b", 0), 0x32323232);
}

TEST(SharedArea, ACorruptHeaderSizeIsBoundedByTheMapping) {
  const std::string name = UniqueName("small");
  cSharedMemory creator(name, 4096);
  ASSERT_TRUE(creator.IsReady());
  BYTE* v = const_cast<BYTE*>(creator.View());
  v[5] = 0x40;  // claims 16 KiB more than there is
  cSharedMemory opener(name, kArea);
  ASSERT_TRUE(opener.IsReady());
  EXPECT_EQ(opener.AreaSize(), 4096u);
  std::vector<BYTE> big(4000, 1);
  EXPECT_EQ(opener.Add("big", big.data(), 4000), 1);
  EXPECT_EQ(opener.Add("more", big.data(), 100), 0);
  EXPECT_EQ(opener.LastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
}

TEST(SharedArea, AnAreaTooSmallForItsHeaderIsRefused) {
  SetLastError(0xdeadbeef);
  cSharedMemory area(UniqueName("tiny"), 4);
  EXPECT_FALSE(area.IsReady());
  EXPECT_EQ(area.LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(area.Exists("x"), 0);
  EXPECT_EQ(area.LastError(), static_cast<DWORD>(ERROR_OBJECT_NOT_FOUND));
  EXPECT_EQ(area.Add("x", "1", 1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OBJECT_NOT_FOUND));
}

TEST(SharedArea, ProcessesSeeEachOthersEntries) {
  const std::string name = UniqueName("area");
  cSharedMemory parent(name, kArea);
  ASSERT_TRUE(parent.AddInt("fromParent", 11));
  int code = RunInChild([&] {
    cSharedMemory child(name, kArea);
    if (!child.IsReady() || child.Created()) return 1;
    if (child.ReadInt("fromParent", 0) != 11) return 2;
    return child.AddInt("fromChild", 22) ? 0 : 3;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(parent.ReadInt("fromChild", 0), 22);
}

TEST(SharedArea, ConcurrentWritersLoseNothing) {
  const std::string name = UniqueName("area");
  cSharedMemory parent(name, kArea);
  ASSERT_TRUE(parent.AddInt("shared", 0));
  constexpr int kProcesses = 4;
  constexpr int kRounds = 25;
  fflush(nullptr);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t child = fork();
    if (child == 0) {
      cSharedMemory mine(name, kArea);
      for (int r = 0; r < kRounds; ++r) {
        const std::string key = "p" + std::to_string(p) + "r" + std::to_string(r);
        if (!mine.AddInt(key, p * 1000 + r)) _exit(1);
        // Churn: remove and re-add so entries move under the other writers.
        if (r % 5 == 4 && (!mine.Remove(key) || !mine.AddInt(key, p * 1000 + r))) _exit(2);
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) EXPECT_EQ(kv::test::WaitChild(child), 0);
  EXPECT_EQ(Dword(parent.View()), 1u + kProcesses * kRounds);
  for (int p = 0; p < kProcesses; ++p)
    for (int r = 0; r < kRounds; ++r)
      EXPECT_EQ(parent.ReadInt("p" + std::to_string(p) + "r" + std::to_string(r), -1), p * 1000 + r);
  DWORD end = 0;
  Entries(parent, &end);
  EXPECT_TRUE(ZeroFrom(parent, end));
}

TEST(SharedArea, NothingIsLeftOnceTheLastProcessLetsGo) {
  kv::test::PrivateObjectFolder folder;
  const std::string name = UniqueName("area");
  const std::vector<std::string> names = {name, name + "_Event", name + "_Lock", "signerMedia_Event"};
  {
    cSharedMemory parent(name, kArea);
    ASSERT_TRUE(parent.AddInt("signerMedia", 2));
    // Watching the key's event keeps it, and its state, alive.
    HANDLE keyEvent = CreateEventA(nullptr, TRUE, FALSE, "signerMedia_Event");
    ASSERT_NE(keyEvent, nullptr);
    EXPECT_EQ(RunInChild([&] {
                cSharedMemory child(name, kArea);
                return child.IsReady() && child.UpdateInt("signerMedia", 1) ? 0 : 1;
              }),
              0);
    EXPECT_EQ(WaitForSingleObject(keyEvent, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(parent.ReadInt("signerMedia", -1), 1);
    CloseHandle(keyEvent);
  }
  EXPECT_EQ(folder.Leftovers(names), std::vector<std::string>{});
  cSharedMemory again(name, kArea);
  EXPECT_TRUE(again.Created()) << "the next user starts from an empty area";
}

}  // namespace
