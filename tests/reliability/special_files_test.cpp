// Files whose contents are wanted must be regular files: a FIFO or a device
// given as the file to hash or as the PFX file fails at once with the
// operation's file-read code and a platform error, and never hangs.
#include <windows.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "engine/capi_engine.h"
#include "sign/signer_state.h"
#include "vocabulary/text.h"
#include "reliability/bounded_child.h"
#include "sign/sign_test_support.h"

namespace {

using kv::test::RunBounded;

constexpr DWORD kUntouched = 0xdeadbeef;

std::string Outcome(LONG code, DWORD platform, const std::string& text) {
  return std::to_string(code) + "/" + std::to_string(platform) + "/" + text;
}

std::string HashFileOutcome(const std::string& path) {
  CCapiEngine& engine = TheEngine();
  engine.NotePlatformError(kUntouched);
  BSTR result = engine.HashFile(kv::NarrowToBstr(path), 0);
  std::string text = kv::WideToNarrow(result);
  SysFreeString(result);
  return Outcome(engine.Code(), engine.PlatformError(), text);
}

class SpecialFiles : public kv::test::SigningTest {};

TEST_F(SpecialFiles, HashFileRefusesFifoAndDevices) {
  std::string fifo = home_.path() + "/pipe";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const std::string refused = Outcome(ERR_FILE_READ, ERROR_NOT_SUPPORTED, "");
  EXPECT_EQ(refused, RunBounded([&] { return HashFileOutcome(fifo); }));
  EXPECT_EQ(refused, RunBounded([&] { return HashFileOutcome("/dev/zero"); }));
  // A link is followed: to a device it is refused, to a file it is read.
  std::string toDevice = home_.path() + "/zero-link";
  ASSERT_EQ(0, symlink("/dev/zero", toDevice.c_str()));
  EXPECT_EQ(refused, RunBounded([&] { return HashFileOutcome(toDevice); }));
  std::string file = home_.path() + "/abc.txt";
  kv::test::WriteFile(file, "abc");
  std::string toFile = home_.path() + "/abc-link";
  ASSERT_EQ(0, symlink(file.c_str(), toFile.c_str()));
  EXPECT_EQ(Outcome(0, kUntouched, "A9993E364706816ABA3E25717850C26C9CD0D89D"),
            RunBounded([&] { return HashFileOutcome(toFile); }));
}

TEST_F(SpecialFiles, PfxFifoFailsAsUnreadable) {
  std::string fifo = folder_.path() + "/f.pfx";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  std::string outcome = RunBounded([&] {
    LONG code = SelectPfx(engine_, "f.pfx", "x");
    return Outcome(code, engine_.PlatformError(), engine_.Signer().Fingerprint());
  });
  EXPECT_EQ(Outcome(ERR_PFX_FILE_READ, ERROR_NOT_SUPPORTED, ""), outcome);
}

TEST_F(SpecialFiles, CreateFileLeavesNoTraceOfRefusal) {
  std::string fifo = home_.path() + "/pipe";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  std::string outcome = RunBounded([&] {
    SetLastError(kUntouched);
    HANDLE h = CreateFileA(fifo.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return std::to_string(h == INVALID_HANDLE_VALUE) + "/" + std::to_string(GetLastError());
  });
  EXPECT_EQ("1/" + std::to_string(ERROR_NOT_SUPPORTED), outcome);
  struct stat st;
  ASSERT_EQ(0, lstat(fifo.c_str(), &st));
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

}  // namespace
