// One PFX file worked on by several processes at once: imports into the
// personal store must leave exactly the key container the stored certificate
// names (none orphaned, also when a new process imports the file again), and
// password changes must take turns, so that exactly one of several changes
// from the same old password wins and the others fail as a wrong password.
// The workers are this binary run again, started together, each bounded.
#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "keys/pfx_test_support.h"

namespace kv::test {
namespace {

// "import|<folder>|<start>", "query|<folder>|<start>" or
// "change|<folder>|<new password>|<start>";
// <start> is the CLOCK_REALTIME millisecond at which to call.
constexpr char kWorkerEnv[] = "KV_PFX_RACE_JOB";

int64_t NowMs() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == '|')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

// Exit status: 0 success, 1 a wrong (old) password, 2 anything else.
TEST(PfxRaceWorker, Run) {
  const char* job = std::getenv(kWorkerEnv);
  if (!job) GTEST_SKIP() << "runs only as a worker of the concurrency tests";
  std::vector<std::string> parts = Split(job);
  int64_t start = std::strtoll(parts.back().c_str(), nullptr, 10);
  while (NowMs() < start) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  CCapiEngine engine;
  BSTR folder = Utf8Bstr(parts[1]);
  LONG r = parts[0] == "import"  ? engine.ImportPfxToIE(folder, Utf8Bstr("user.pfx"), Utf8Bstr("1234"), 1, 0)
           : parts[0] == "query" ? engine.QueryPfxInfo(folder, Utf8Bstr("user.pfx"), Utf8Bstr("1234"), 1, 0)
                                 : engine.ChangePfxPasswd(folder, Utf8Bstr("user.pfx"), Utf8Bstr("start"),
                                                          Utf8Bstr(parts[2]), 0);
  if (r != ERR_SUCCESS && r != ERR_PKCS12_PASSWORD)
    std::fprintf(stderr, "worker %s: %ld (0x%08lX)\n", parts[0].c_str(), static_cast<long>(r),
                 static_cast<unsigned long>(engine.GetCapiErrorCode()));
  _exit(r == ERR_SUCCESS ? 0 : r == ERR_PKCS12_PASSWORD ? 1 : 2);
}

class PfxConcurrencyTest : public PfxTest {
 protected:
  // Runs one worker per job, all released at the same moment; their exit
  // statuses in job order (-1: killed at the deadline or crashed).
  std::vector<int> RunTogether(const std::vector<std::string>& jobs) {
    const std::string start = std::to_string(NowMs() + 1000);
    std::vector<pid_t> pids;
    std::fflush(nullptr);
    for (const std::string& job : jobs) {
      pid_t pid = fork();
      if (pid == 0) {
        setenv(kWorkerEnv, (job + "|" + start).c_str(), 1);
        std::freopen("/dev/null", "w", stdout);
        execl("/proc/self/exe", "korvessa_tests", "--gtest_filter=PfxRaceWorker.Run", nullptr);
        _exit(4);
      }
      pids.push_back(pid);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::vector<int> statuses;
    for (pid_t pid : pids) {
      int status = 0;
      while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
          kill(pid, SIGKILL);
          waitpid(pid, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return statuses;
  }

  // Key containers as the database holds them, read by a connection of our
  // own: this process never opens the key store, so never sweeps it.
  int StoredContainers() {
    sqlite3* db = nullptr;
    int n = -1;
    if (sqlite3_open_v2((home_.path() + "/korvessa.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_busy_timeout(db, 5000);
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT count(*) FROM crypt_containers", -1, &st, nullptr) == SQLITE_OK &&
          sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int(st, 0);
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return n;
  }

  std::string ImportJob() const { return "import|" + folder_.path(); }
};

TEST_F(PfxConcurrencyTest, ImportsLeaveOnlyTheContainerTheCertificateNames) {
  WritePfx("user.pfx", *signer_, {root_.get()});
  // The same file imported again by a new process, one after the other.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(std::vector<int>{0}, RunTogether({ImportJob()})) << "import " << i;
  EXPECT_EQ(1, StoredContainers()) << "a re-import left the replaced certificate's key behind";

  // Several at once, a few times over.
  const std::vector<std::string> jobs(6, ImportJob());
  for (int round = 0; round < 3; ++round)
    EXPECT_EQ(std::vector<int>(jobs.size(), 0), RunTogether(jobs)) << "round " << round;
  ASSERT_EQ(std::vector<int>{0}, RunTogether({ImportJob()}));
  EXPECT_EQ(1, StoredContainers());

  // The one left is the stored certificate's key, and it signs.
  ASSERT_EQ(1, CountMy());
  HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
  PCCERT_CONTEXT cert = CertEnumCertificatesInStore(my, nullptr);
  ASSERT_NE(nullptr, cert);
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
  DWORD spec = 0;
  BOOL callerFree = FALSE;
  EXPECT_TRUE(CryptAcquireCertificatePrivateKey(cert, CRYPT_ACQUIRE_COMPARE_KEY_FLAG, nullptr, &key, &spec,
                                                &callerFree));
  if (callerFree) CryptReleaseContext(key, 0);
  CertFreeCertificateContext(cert);
  CertCloseStore(my, 0);
}

// The key store's own sweep is the backstop for whatever the importer could
// not remove itself: an imported key stays while a certificate names it, also
// through later sweeps, and goes once none does.
TEST_F(PfxConcurrencyTest, ImportedKeyGoesWhenNoCertificateNamesItAnyMore) {
  WritePfx("user.pfx", *signer_, {root_.get()});
  const std::string query = "query|" + folder_.path();
  ASSERT_EQ(std::vector<int>{0}, RunTogether({ImportJob()}));
  ASSERT_EQ(std::vector<int>{0}, RunTogether({query}));  // sweeps, finds the key named
  EXPECT_EQ(1, StoredContainers());
  HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
  PCCERT_CONTEXT cert = CertEnumCertificatesInStore(my, nullptr);
  ASSERT_NE(nullptr, cert);
  ASSERT_TRUE(CertDeleteCertificateFromStore(cert));
  CertCloseStore(my, 0);
  ASSERT_EQ(std::vector<int>{0}, RunTogether({query}));
  EXPECT_EQ(0, StoredContainers());
}

TEST_F(PfxConcurrencyTest, ConcurrentPasswordChangesTakeTurns) {
  std::string file = Path("user.pfx");
  for (int round = 0; round < 2; ++round) {
    WritePfx("user.pfx", *signer_, {}, "start");
    std::vector<std::string> jobs;
    for (int i = 0; i < 5; ++i) jobs.push_back("change|" + folder_.path() + "|pw-" + std::to_string(i));
    std::vector<int> statuses = RunTogether(jobs);
    int winners = 0;
    for (size_t i = 0; i < statuses.size(); ++i) {
      EXPECT_TRUE(statuses[i] == 0 || statuses[i] == 1) << "worker " << i << ": " << statuses[i];
      if (statuses[i] != 0) continue;
      ++winners;
      EXPECT_TRUE(OpenPfxWithOpenSsl(file, ("pw-" + std::to_string(i)).c_str()).opened)
          << "worker " << i << " answered 0 but its password does not open the file";
    }
    EXPECT_EQ(1, winners) << "round " << round;
  }
}

}  // namespace
}  // namespace kv::test
