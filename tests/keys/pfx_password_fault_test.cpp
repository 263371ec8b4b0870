// The password change under faults: the process killed at random moments
// while it rewrites the file over and over, and a disk that fills up. The
// file must always open under the old or the new password, never neither.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>

#include "keys/pfx_test_support.h"

namespace kv::test {
namespace {

constexpr char kWorkerEnv[] = "KV_PFX_CHANGE_WORKER";  // folder of the file to rewrite

// Run by the kill test in a child process of its own: changes the password
// back and forth until it is killed.
TEST(PfxPasswordWorker, ChangeForever) {
  const char* folder = std::getenv(kWorkerEnv);
  if (!folder) GTEST_SKIP() << "runs only as the kill test's child";
  CCapiEngine engine;
  for (;;) {
    LONG r = engine.ChangePfxPasswd(Utf8Bstr(folder), Utf8Bstr("user.pfx"), Utf8Bstr("pw-A"), Utf8Bstr("pw-B"), 0);
    if (r == ERR_PKCS12_PASSWORD)
      r = engine.ChangePfxPasswd(Utf8Bstr(folder), Utf8Bstr("user.pfx"), Utf8Bstr("pw-B"), Utf8Bstr("pw-A"), 0);
    if (r != ERR_SUCCESS) _exit(3);
  }
}

class PfxPasswordFaultTest : public PfxTest {};

TEST_F(PfxPasswordFaultTest, KilledAtRandomMomentsTheFileOpensUnderOldOrNew) {
  std::string file = WritePfx("user.pfx", *signer_, {}, "pw-A");
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delayMs(150, 700);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int rounds = 0, underA = 0, underB = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setenv(kWorkerEnv, folder_.path().c_str(), 1);
      execl("/proc/self/exe", "korvessa_tests", "--gtest_filter=PfxPasswordWorker.ChangeForever", nullptr);
      _exit(4);
    }
    usleep(static_cast<useconds_t>(delayMs(random)) * 1000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the worker stopped on its own: " << WEXITSTATUS(status);
    ++rounds;
    bool a = OpenPfxWithOpenSsl(file, "pw-A").opened;
    bool b = !a && OpenPfxWithOpenSsl(file, "pw-B").opened;
    ASSERT_TRUE(a || b) << "after round " << rounds << " the file opens under neither password";
    underA += a;
    underB += b;
    // A kill between creating and renaming the temporary file leaves it
    // behind; it never replaces the real one.
    RunCommand("rm -f '" + folder_.path() + "'/*.tmp");
  }
  EXPECT_GE(rounds, 5);
  // Rewrites did complete between the kills, in both directions.
  EXPECT_GT(underB, 0) << rounds << " rounds";
  RecordProperty("rounds", rounds);
  RecordProperty("underOld", underA);
  RecordProperty("underNew", underB);
  // The key survived every round.
  OpenedPfx opened = OpenPfxWithOpenSsl(file, "pw-A");
  if (!opened.opened) opened = OpenPfxWithOpenSsl(file, "pw-B");
  ASSERT_TRUE(opened.opened);
  EXPECT_EQ(PrivateKeyDer(signer_->key()), opened.keyDer);
}

// A small file system of its own, unmounted at the end.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& where) : path_(where) {
    mkdir(path_.c_str(), 0700);
    mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=16k") == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount(path_.c_str());
    rmdir(path_.c_str());
  }
  bool mounted() const { return mounted_; }
  // Fills what is left with one file.
  void Fill() {
    FILE* f = std::fopen((path_ + "/filler").c_str(), "wb");
    char block[512] = {};
    while (f && std::fwrite(block, 1, sizeof block, f) == sizeof block && std::fflush(f) == 0) {
    }
    if (f) std::fclose(f);
  }
  void Free() { std::remove((path_ + "/filler").c_str()); }

 private:
  std::string path_;
  bool mounted_ = false;
};

TEST_F(PfxPasswordFaultTest, FullDiskKeepsTheOldFile) {
  SmallDisk disk(Path("stick"));
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  Pkcs12Spec spec;
  spec.password = "old";
  std::vector<uint8_t> image = MakePkcs12(*signer_, {}, spec);
  WriteFile(Path("stick/user.pfx"), std::string(image.begin(), image.end()));
  disk.Fill();
  std::string before = ReadFile(Path("stick/user.pfx"));

  SetLastError(0xdeadbeef);
  EXPECT_EQ(ERR_CERT_FILE_WRITE, engine_.ChangePfxPasswd(Utf8Bstr(Path("stick")), Utf8Bstr("user.pfx"),
                                                         Utf8Bstr("old"), Utf8Bstr("new"), 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), engine_.PlatformError());
  EXPECT_EQ(before, ReadFile(Path("stick/user.pfx")));
  EXPECT_TRUE(OpenPfxWithOpenSsl(Path("stick/user.pfx"), "old").opened);
  std::string listing;
  RunCommand("ls -A '" + Path("stick") + "'", &listing);
  EXPECT_EQ("filler\nuser.pfx\n", listing);

  disk.Free();
  EXPECT_EQ(0, engine_.ChangePfxPasswd(Utf8Bstr(Path("stick")), Utf8Bstr("user.pfx"), Utf8Bstr("old"),
                                       Utf8Bstr("new"), 0));
  EXPECT_TRUE(OpenPfxWithOpenSsl(Path("stick/user.pfx"), "new").opened);
}

}  // namespace
}  // namespace kv::test
