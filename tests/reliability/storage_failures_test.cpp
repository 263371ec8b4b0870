// Damaged or failing storage is reported for what it is: a database whose
// header or pages were overwritten reads as damaged (never as empty) and is
// not written to; a full disk, a read-only file system and an unreadable key
// store reach the caller as ERROR_DISK_FULL, ERROR_WRITE_PROTECT and
// NTE_BAD_KEYSET, while the operations keep their own result codes.
#include <windows.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <random>
#include <string>

#include "database/user_database.h"
#include "keys/enrol_test_support.h"
#include "reliability/bounded_child.h"
#include "keys/pfx_test_support.h"
#include "sign/sign_test_support.h"

namespace {

using kv::test::RunBounded;
using kv::test::Utf8Bstr;

constexpr DWORD kUntouched = 0xdeadbeef;

class StorageFailures : public kv::test::SigningTest {
 protected:
  std::string Db() const { return home_.path() + "/korvessa.db"; }

  // Lets this process's connection go (it checkpoints the log into the
  // file), as a new process would find the database.
  void ReleaseConnection() {
    {
      kv::test::ScopedEnv away("KORVESSA_HOME", (home_.path() + "/elsewhere").c_str());
      kv::platform::UserDatabase::Instance().Connection();
    }
  }

  void Overwrite(long offset, const std::string& bytes) {
    int fd = open(Db().c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), pwrite(fd, bytes.data(), bytes.size(), offset));
    close(fd);
  }

  LONG WriteInt(const char* name, LONG value) { return engine_.RegWriteHKCUInt(Utf8Bstr(name), value); }
  std::string ReadText(const char* name) { return kv::test::TakeText(engine_.RegReadHKCU(Utf8Bstr(name))); }
};

TEST_F(StorageFailures, OverwrittenHeaderIsDamageNotEmptiness) {
  AddToMy(*signer_);
  ASSERT_EQ(0, WriteInt("Software\\Kv\\Count", 7));
  ASSERT_EQ(1, engine_.GetIECertCount());
  ReleaseConnection();
  Overwrite(0, std::string(21, 'X'));
  const std::string damaged = kv::test::ReadFile(Db());

  SetLastError(kUntouched);
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_FILE_CORRUPT, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kv", 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_FILE_CORRUPT, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Other", &key));

  EXPECT_EQ(0, engine_.GetIECertCount());
  EXPECT_EQ(ERR_OPEN_MY_STORE, engine_.Code());
  EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT)), engine_.PlatformError());

  EXPECT_EQ("", ReadText("Software\\Kv\\Count"));
  EXPECT_EQ(ERR_ACCESS_DENIED, engine_.Code());
  EXPECT_EQ(ERR_ACCESS_DENIED, WriteInt("Software\\Kv\\Count", 8));
  EXPECT_EQ(damaged, kv::test::ReadFile(Db())) << "nothing is written into a damaged database";
}

TEST_F(StorageFailures, OverwrittenPagesAreDamage) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Kv", &key));
  std::string text(200, 'v');
  for (int i = 0; i < 400; ++i) {
    std::string name = "value" + std::to_string(i);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                                            static_cast<DWORD>(text.size())));
  }
  RegCloseKey(key);
  ReleaseConnection();
  // Random bytes over a few pages past the schema.
  std::mt19937 random(21);
  std::string noise(512, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  for (long page = 3; page < 12; page += 2) Overwrite(page * 4096 + 700, noise);

  SetLastError(kUntouched);
  EXPECT_EQ(ERROR_FILE_CORRUPT, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kv", 0, KEY_READ, &key));
  EXPECT_EQ("", ReadText("Software\\Kv\\value5"));
  EXPECT_EQ(ERR_ACCESS_DENIED, engine_.Code());
}

TEST_F(StorageFailures, TruncatedKeyStoreSecretIsNotAWrongPassword) {
  WritePfx("f.pfx", *signer_, {root_.get()});
  kv::test::WriteFile(home_.path() + "/key-containers.secret", "short");
  EXPECT_EQ(ERR_PKCS12_PASSWORD, SelectPfx(engine_, "f.pfx", "1234"));
  EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), engine_.PlatformError());
  EXPECT_EQ("short", kv::test::ReadFile(home_.path() + "/key-containers.secret")) << "the secret is never replaced";
}

// Runs `body` in a child with its home on a small file system of its own;
// "skip" when this machine cannot make one.
std::string OnSmallFileSystem(const std::function<std::string(const std::string&)>& body, int seconds = 20,
                              const char* size = "size=256k") {
  return RunBounded(
      [&]() -> std::string {
        if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return "skip";
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return "skip";
        char pattern[] = "/tmp/kv-small-XXXXXX";
        if (!mkdtemp(pattern)) return "skip";
        if (mount("tmpfs", pattern, "tmpfs", 0, size) != 0) return "skip";
        return body(pattern);
      },
      seconds);
}

// Fills the file system at `mountPoint` to its last byte ("filler").
void FillToTheLastByte(const std::string& mountPoint) {
  int fd = open((mountPoint + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
  std::string block(4096, 'f');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  while (write(fd, block.data(), 1) > 0) {
  }
  close(fd);
}

TEST_F(StorageFailures, FullDiskAndReadOnlyFileSystem) {
  WritePfx("f.pfx", *signer_, {root_.get()});
  std::string outcome = OnSmallFileSystem([&](const std::string& mountPoint) {
    std::string home = mountPoint + "/home";
    setenv("KORVESSA_HOME", home.c_str(), 1);
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Kv", &key) != ERROR_SUCCESS) return std::string("setup");
    FillToTheLastByte(mountPoint);
    std::string big(64 * 1024, 'b');
    SetLastError(kUntouched);
    LONG full = RegSetValueExA(key, "big", 0, REG_SZ, reinterpret_cast<const BYTE*>(big.data()),
                               static_cast<DWORD>(big.size()));
    LONG code = SelectPfx(engine_, "f.pfx", "1234");
    std::string out = std::to_string(full) + " " + std::to_string(code) + "/" + std::to_string(engine_.PlatformError());
    RegCloseKey(key);
    // The same home, remounted read-only once nothing holds it open.
    unlink((mountPoint + "/filler").c_str());
    setenv("KORVESSA_HOME", (home_.path() + "/away").c_str(), 1);
    kv::platform::UserDatabase::Instance().Connection();
    if (mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) return out + " skip";
    setenv("KORVESSA_HOME", home.c_str(), 1);
    LONG readOnly = RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Kv\\New", &key);
    return out + " " + std::to_string(readOnly);
  });
  if (outcome == "skip") GTEST_SKIP() << "no private file system can be mounted here";
  const std::string expected = std::to_string(ERROR_DISK_FULL) + " " + std::to_string(ERR_PKCS12_PASSWORD) + "/" +
                               std::to_string(ERROR_DISK_FULL) + " " + std::to_string(ERROR_WRITE_PROTECT);
  EXPECT_EQ(expected, outcome);
}

// With the right password, an import or a password change whose keys cannot
// be stored says so, with the storage's error, instead of blaming the password.
TEST_F(StorageFailures, PfxOperationsReportStorageNotThePassword) {
  WritePfx("f.pfx", *signer_, {root_.get()});
  std::string outcome = OnSmallFileSystem([&](const std::string& mountPoint) {
    std::string home = mountPoint + "/home";
    setenv("KORVESSA_HOME", home.c_str(), 1);
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Kv", &key) != ERROR_SUCCESS) return std::string("setup");
    RegCloseKey(key);
    auto both = [&]() {
      LONG imported = engine_.ImportPfxToIE(Utf8Bstr(folder_.path()), Utf8Bstr("f.pfx"), Utf8Bstr("1234"), 1, 0);
      std::string out = std::to_string(imported) + "/" + std::to_string(engine_.PlatformError());
      LONG changed = engine_.ChangePfxPasswd(Utf8Bstr(folder_.path()), Utf8Bstr("f.pfx"), Utf8Bstr("1234"),
                                             Utf8Bstr("new"), 0);
      return out + " " + std::to_string(changed) + "/" + std::to_string(engine_.PlatformError());
    };
    FillToTheLastByte(mountPoint);
    std::string out = both();
    unlink((mountPoint + "/filler").c_str());
    setenv("KORVESSA_HOME", (home_.path() + "/away").c_str(), 1);
    kv::platform::UserDatabase::Instance().Connection();
    if (mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) return out + " skip";
    setenv("KORVESSA_HOME", home.c_str(), 1);
    return out + " " + both();
  });
  if (outcome == "skip") GTEST_SKIP() << "no private file system can be mounted here";
  const std::string full = std::to_string(ERR_CSP_ACQUIRE) + "/" + std::to_string(ERROR_DISK_FULL);
  const std::string readOnly = std::to_string(ERR_CSP_ACQUIRE) + "/" + std::to_string(ERROR_WRITE_PROTECT);
  EXPECT_EQ(full + " " + full + " " + readOnly + " " + readOnly, outcome);
  EXPECT_TRUE(kv::test::OpenPfxWithOpenSsl(folder_.path() + "/f.pfx", "1234").opened);
}

// A request on a filling disk either succeeds with its complete record or
// fails with nothing left behind but a mark the next request sweeps; never
// a request whose key has no record. Each level gives the disk a few more
// blocks of room.
TEST_F(StorageFailures, RequestOnAFullDiskKeepsNoKeyWithoutItsRecord) {
  std::string outcome = OnSmallFileSystem([&](const std::string& mountPoint) {
    std::string out;
    int fd = open((mountPoint + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
    std::string block(4096, 'f');
    int failures = 0, successes = 0;
    for (int level = 0; level < 40; ++level) {
      if (ftruncate(fd, 0) != 0) return std::string("setup");
      setenv("KORVESSA_HOME", (mountPoint + "/home" + std::to_string(level)).c_str(), 1);
      HKEY key = nullptr;
      if (RegCreateKeyA(HKEY_CURRENT_USER, "Software\\VELK", &key) != ERROR_SUCCESS) return std::string("setup");
      RegCloseKey(key);
      while (write(fd, block.data(), block.size()) > 0) {
      }
      off_t full = lseek(fd, 0, SEEK_END);
      if (ftruncate(fd, std::max<off_t>(0, full - level * 6 * 1024)) != 0) return std::string("setup");
      lseek(fd, 0, SEEK_END);
      std::string request = kv::test::TakeText(engine_.CreatePKCS10(Utf8Bstr("Full Disk"), 1024, 0));
      LONG code = engine_.Code();
      std::string orphans = kv::test::OrphanReport();
      if (code == 0) ++successes; else ++failures;
      if ((code == 0) == request.empty() || !orphans.empty())
        out += "level " + std::to_string(level) + ": code " + std::to_string(code) + "/" +
               std::to_string(engine_.PlatformError()) + " " + orphans + "\n";
      if (code == kErrPendingRecord && engine_.PlatformError() != ERROR_DISK_FULL)
        out += "level " + std::to_string(level) + ": platform error " + std::to_string(engine_.PlatformError()) + "\n";
    }
    close(fd);
    if (successes == 0 || failures == 0) out += "levels did not span the full disk\n";
    return out;
  }, 90, "size=16m");
  if (outcome == "skip") GTEST_SKIP() << "no private file system can be mounted here";
  EXPECT_EQ("", outcome);
}

}  // namespace
