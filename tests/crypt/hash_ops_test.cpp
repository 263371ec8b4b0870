// The Hash and HashFile operations: flags, text forms, errors, and files of
// every size (a sparse file beyond 4 GiB is checked against sha1sum).
#include <windows.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cctype>
#include <string>

#include "codec/vector_file.h"
#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "support/temp_home.h"
#include "ui/dialog_test_support.h"

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string OpenSslHex(const EVP_MD* md, const std::string& bytes) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), out, &length, md, nullptr);
  return Upper(kv::test::BytesToHex(out, length));
}

BSTR Utf8Bstr(const char* utf8) { return kv::NarrowToBstr(kv::Utf8ToNarrow(utf8)); }

class HashOps : public kv::test::HomeTest {
 protected:
  // Runs an operation and returns its text result, freeing the BSTR.
  std::string Take(BSTR result) {
    EXPECT_NE(result, nullptr);  // a failed operation still returns a string
    std::string text = kv::WideToNarrow(result);
    SysFreeString(result);
    return text;
  }
  std::string Hash(const char* utf8, LONG flags) { return Take(engine_.Hash(Utf8Bstr(utf8), flags)); }
  std::string HashFile(const std::string& path, LONG flags) {
    return Take(engine_.HashFile(kv::NarrowToBstr(path), flags));
  }
  std::string FilePath(const char* name) { return home_.path() + "/" + name; }

  kv::test::ScopedEnv codePage_{"KORVESSA_CODEPAGE", nullptr};
  CCapiEngine& engine_ = TheEngine();
};

TEST_F(HashOps, FlagsChooseDigestAndTextForm) {
  const std::string wide("a\0b\0c\0", 6);
  EXPECT_EQ(Hash("abc", 0x11), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(engine_.Code(), 0);
  EXPECT_EQ(Hash("abc", 0x10), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(Hash("abc", 0x13), OpenSslHex(EVP_sha256(), "abc"));
  EXPECT_EQ(Hash("abc", 0x14), OpenSslHex(EVP_sha512(), "abc"));
  // Without 0x10 the UTF-16LE code units are digested.
  EXPECT_EQ(Hash("abc", 0), OpenSslHex(EVP_sha1(), wide));
  EXPECT_EQ(Hash("abc", 1), OpenSslHex(EVP_md5(), wide));
  for (LONG flags : {2, 5, 6, 7, 0x7FFFFF00}) EXPECT_EQ(Hash("abc", flags), Hash("abc", 0)) << flags;
  EXPECT_EQ(Hash("abc", 4).size(), 128u);
  EXPECT_EQ(Hash("abc", 3).size(), 64u);
}

TEST_F(HashOps, Big5TextInTheCodePage) {
  // 功能: in Big5 A5 5C AF E0, the first character's trail byte a backslash.
  EXPECT_EQ(Hash("功能", 0x10), OpenSslHex(EVP_sha1(), "\xA5\x5C\xAF\xE0"));
  EXPECT_EQ(Hash("功能", 0x00), OpenSslHex(EVP_sha1(), std::string("\x9F\x52\xFD\x80", 4)));
  EXPECT_EQ(engine_.Code(), 0);
}

TEST_F(HashOps, EmptyOrNullTextIsABadParameter) {
  EXPECT_EQ(Take(engine_.Hash(nullptr, 0)), "");
  EXPECT_EQ(engine_.Code(), ERR_BAD_PARAM);
  EXPECT_EQ(Take(engine_.Hash(SysAllocString(reinterpret_cast<const OLECHAR*>(u"")), 0x10)), "");
  EXPECT_EQ(engine_.Code(), ERR_BAD_PARAM);
  // The next good call clears the error.
  EXPECT_EQ(Hash("x", 1).size(), 32u);
  EXPECT_EQ(engine_.Code(), 0);
}

TEST_F(HashOps, FileDigestsMatchAcrossChunkBoundaries) {
  std::string content;
  for (size_t i = 0; i < (3u << 20) + 17; ++i) content.push_back(char(i * 131 + (i >> 9)));
  kv::test::WriteFile(FilePath("data.bin"), content);
  EXPECT_EQ(HashFile(FilePath("data.bin"), 0), OpenSslHex(EVP_sha1(), content));
  EXPECT_EQ(HashFile(FilePath("data.bin"), 1), OpenSslHex(EVP_md5(), content));
  EXPECT_EQ(HashFile(FilePath("data.bin"), 3), OpenSslHex(EVP_sha256(), content));
  EXPECT_EQ(HashFile(FilePath("data.bin"), 4), OpenSslHex(EVP_sha512(), content));
  EXPECT_EQ(engine_.Code(), 0);
  // 0x10 does not change how a file is read; backslashes separate folders too.
  kv::test::WriteFile(FilePath("abc.txt"), "abc");
  EXPECT_EQ(HashFile(home_.path() + "\\abc.txt", 0x10), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST_F(HashOps, FileErrors) {
  EXPECT_EQ(HashFile(FilePath("missing.bin"), 0), "");
  EXPECT_EQ(engine_.Code(), ERR_FILE_NOT_FOUND);
  kv::test::WriteFile(FilePath("empty.bin"), "");
  EXPECT_EQ(HashFile(FilePath("empty.bin"), 0), "");
  EXPECT_EQ(engine_.Code(), ERR_FILE_READ);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(HashFile(home_.path(), 0), "");  // a folder exists but cannot be read as a file
  EXPECT_EQ(engine_.GetErrorCode(), ERR_FILE_READ);
  // The failing call's own number, taken at once, not one left from before.
  EXPECT_EQ(engine_.GetCapiErrorCode(), static_cast<LONG>(ERROR_ACCESS_DENIED));
  // An operation that clears only the code leaves the number readable.
  EXPECT_EQ(Hash("abc", 0).size(), 40u);
  EXPECT_EQ(engine_.GetErrorCode(), 0);
  EXPECT_EQ(engine_.GetCapiErrorCode(), static_cast<LONG>(ERROR_ACCESS_DENIED));
}

TEST_F(HashOps, EmptyPathAsksForTheFile) {
  kv::test::WriteFile(FilePath("picked.txt"), "abc");
  // The user picks a file, then cancels the next dialog (answered for another one).
  kv::test::ScriptedDialogs dialogs(R"([{"dialog": "open-file", "browse": ")" + FilePath("picked.txt") +
                                    R"("}, {"dialog": 202, "press": 1}])");
  EXPECT_EQ(HashFile("", 1), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(engine_.Code(), 0);
  EXPECT_EQ(Take(engine_.HashFile(nullptr, 0)), "");
  EXPECT_EQ(engine_.Code(), ERR_USER_CANCEL);
  const auto shown = dialogs.Events("dialog");
  ASSERT_EQ(shown.size(), 2u);
}

// A file beyond 4 GiB, made sparse so it costs no disk space: its length does
// not fit a 32-bit size, and its digest must still be that of every byte.
TEST_F(HashOps, LongSparseFileBeyondFourGiB) {
  const std::string path = FilePath("sparse.bin");
  const off_t size = (off_t(4) << 30) + 4099;
  const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  bool made = ftruncate(fd, size) == 0;
  for (off_t at : {off_t(0), off_t(1) << 31, (off_t(1) << 32) - 3, size - 5}) {
    made = made && pwrite(fd, "mark!", 5, at) == 5;
  }
  close(fd);
  if (!made) GTEST_SKIP() << "the filesystem cannot hold a sparse file of 4 GiB";
  std::string expected;
  ASSERT_EQ(kv::test::RunCommand("sha1sum '" + path + "' | cut -c1-40", &expected), 0);
  expected = Upper(expected.substr(0, 40));
  EXPECT_EQ(HashFile(path, 0), expected);
  EXPECT_EQ(engine_.Code(), 0);
}

// The exports as a host program calls them: found by name in the library,
// results freed with the library's own SysFreeString.
TEST(HashExports, HashAndHashFileAreExported) {
  void* library = dlopen(KV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto hash = reinterpret_cast<BSTR (*)(LPCWSTR, LONG)>(dlsym(library, "Hash"));
  auto hashFile = reinterpret_cast<BSTR (*)(LPCWSTR, LONG)>(dlsym(library, "HashFile"));
  auto errorCode = reinterpret_cast<LONG (*)()>(dlsym(library, "GetErrorCode"));
  auto freeString = reinterpret_cast<void (*)(BSTR)>(dlsym(library, "SysFreeString"));
  ASSERT_TRUE(hash && hashFile && errorCode && freeString);
  BSTR result = hash(reinterpret_cast<LPCWSTR>(u"abc"), 0x11);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(result)), u"900150983CD24FB0D6963F7D28E17F72");
  freeString(result);
  EXPECT_EQ(errorCode(), 0);
  result = hashFile(reinterpret_cast<LPCWSTR>(u"/nonexistent/korvessa/file"), 0);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result[0], 0);
  freeString(result);
  EXPECT_EQ(errorCode(), ERR_FILE_NOT_FOUND);
  // The library stays loaded for the rest of the run: leave its error state
  // as a fresh library has it.
  freeString(hash(reinterpret_cast<LPCWSTR>(u"x"), 0));
  EXPECT_EQ(errorCode(), 0);
  dlclose(library);
}

}  // namespace
