// Private keys a PFX load puts into key containers must not outlive a process
// killed before it could delete them: the containers are marked temporary
// and owned by their process, and the next process to open the key store
// sweeps those whose owner is gone. Killed here both at a known moment (keys
// imported, store still open) and at random moments of real signer
// selections through the command-line host. Likewise a request's new key
// stays only with its complete PendingRequest record: a request killed
// part-way leaves a mark that the next request sweeps.
#include <windows.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "cert/pfx_file.h"
#include "keys/enrol_test_support.h"
#include "sign/sign_test_support.h"

namespace {

class AbandonedKeys : public kv::test::SigningTest {
 protected:
  // Rows of `table` in the user database, read by a connection of our own.
  int Count(const char* table) {
    sqlite3* db = nullptr;
    std::string path = home_.path() + "/korvessa.db";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      return -1;
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* st = nullptr;
    int n = -1;
    std::string sql = std::string("SELECT count(*) FROM ") + table;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      n = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
  }

  std::string Batch(int selections) const {
    std::string line = "{\"call\": \"SelectSignerEx\", \"args\": [\"\", \"" + folder_.path() +
                       "\", \"f.pfx\", \"1234\", \"\", 512, 0]}\n";
    std::string all;
    for (int i = 0; i < selections; ++i) all += line;
    return all;
  }

  // Starts `korvessa --batch` on `input` in this test's home.
  pid_t StartHost(const std::string& input) const {
    std::string file = home_.path() + "/batch.jsonl";
    kv::test::WriteFile(file, input);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid != 0) return pid;
    setenv("KORVESSA_HOME", home_.path().c_str(), 1);
    std::freopen(file.c_str(), "r", stdin);
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    execl(KV_HOST_PATH, "korvessa", "--batch", static_cast<char*>(nullptr));
    _exit(127);
  }

  static int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(AbandonedKeys, KilledHolderLeavesNothingAfterTheNextOpening) {
  WritePfx("f.pfx", *signer_, {root_.get()});
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  std::fflush(nullptr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Its own connection: the same folder under another spelling.
    setenv("KORVESSA_HOME", (home_.path() + "/.").c_str(), 1);
    CPfxFile pfx;
    char ok = pfx.Load(folder_.path() + "/f.pfx", "1234", 1) == ERR_SUCCESS ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(2);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char ok = 0;
  ASSERT_EQ(1, read(ready[0], &ok, 1));
  close(ready[0]);
  kill(pid, SIGKILL);
  Wait(pid);
  ASSERT_EQ('y', ok);
  ASSERT_EQ(1, Count("crypt_containers")) << "the killed process left its imported key";
  ASSERT_EQ(1, Count("crypt_keys"));

  // A normal run of the host opens the key store and sweeps it.
  EXPECT_EQ(0, Wait(StartHost(Batch(1))));
  EXPECT_EQ(0, Count("crypt_containers"));
  EXPECT_EQ(0, Count("crypt_keys"));
  EXPECT_EQ(0, Count("crypt_temporary"));
}

TEST_F(AbandonedKeys, RandomKillsDuringSelectionLeaveNoKeys) {
  WritePfx("f.pfx", *signer_, {root_.get()});
  std::mt19937 random(20240621);
  const auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int kills = 0;
  while (std::chrono::steady_clock::now() < stop) {
    pid_t pid = StartHost(Batch(400));
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + random() % 250));
    kill(pid, SIGKILL);
    Wait(pid);
    ++kills;
  }
  EXPECT_GT(kills, 3);
  EXPECT_EQ(0, Wait(StartHost(Batch(2))));
  EXPECT_EQ(0, Count("crypt_containers")) << "after " << kills << " kills, temporary " << Count("crypt_temporary")
                                          << " keys " << Count("crypt_keys");
  EXPECT_EQ(0, Count("crypt_keys"));
}

TEST_F(AbandonedKeys, KeysOfALivingProcessOrAKeptCertificateStay) {
  WritePfx("f.pfx", *signer_, {root_.get()});
  {
    // This process is alive: its open store's key is not swept by another.
    CPfxFile pfx;
    ASSERT_EQ(ERR_SUCCESS, pfx.Load(folder_.path() + "/f.pfx", "1234", 1));
    EXPECT_EQ(0, Wait(StartHost(Batch(1))));
    EXPECT_EQ(1, Count("crypt_containers"));
  }
  EXPECT_EQ(0, Count("crypt_containers"));
}

TEST_F(AbandonedKeys, KilledRequestsLeaveNoKeyWithoutItsRecord) {
  std::string line = "{\"call\": \"CreatePKCS10\", \"args\": [\"Killed Request\", 1024, 0]}\n";
  std::string many;
  for (int i = 0; i < 40; ++i) many += line;
  std::mt19937 random(20240622);
  const auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int kills = 0, marked = 0, everMarked = 0;
  while (std::chrono::steady_clock::now() < stop) {
    pid_t pid = StartHost(many);
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 200));
    kill(pid, SIGKILL);
    Wait(pid);
    ++kills;
    // Each kill leaves keys with their records, or marks to be swept.
    ASSERT_EQ("", kv::test::OrphanReport(&marked)) << "kill " << kills;
    everMarked += marked;
  }
  EXPECT_GT(kills, 3);
  EXPECT_GT(everMarked, 0) << "no kill landed inside a request";
  // The next request sweeps what the killed ones left.
  EXPECT_EQ(0, Wait(StartHost(line)));
  EXPECT_EQ("", kv::test::OrphanReport(&marked)) << "after " << kills << " kills";
  EXPECT_EQ(0, marked);
  EXPECT_FALSE(kv::test::RecordNames().empty());
}

}  // namespace
