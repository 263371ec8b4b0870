// Whole-file read and write of CByteBuffer: round trips, empty and missing
// files, truncation on save, Windows-style and Big5 file names, and files too
// large for a signed 32-bit size.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codec/byte_buffer.h"
#include "support/temp_home.h"

namespace {

namespace fs = std::filesystem;

class ByteBufferFile : public kv::test::HomeTest {
 protected:
  std::string Dir() const { return home_.path(); }
  kv::test::ScopedEnv codePage_{"KORVESSA_CODEPAGE", "950"};
};

TEST_F(ByteBufferFile, SaveThenLoadKeepsEveryByte) {
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += static_cast<char>(i * 7);
  CByteBuffer out;
  ASSERT_TRUE(out.AppendString(bytes));
  const std::string path = Dir() + "/data.bin";
  ASSERT_TRUE(out.SaveToFile(path));
  EXPECT_EQ(kv::test::ReadFile(path), bytes);

  CByteBuffer in;
  ASSERT_TRUE(in.LoadFromFile(path));
  ASSERT_EQ(in.Size(), 1000);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.Data()), 1000), bytes);
  EXPECT_EQ(in.Data()[1000], 0);
  EXPECT_EQ(in.Data()[1001], 0);
}

TEST_F(ByteBufferFile, EmptyMissingAndUnnamedFilesFailToLoad) {
  const std::string empty = Dir() + "/empty.bin";
  kv::test::WriteFile(empty, "");
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("stale"));
  EXPECT_FALSE(b.LoadFromFile(empty));
  EXPECT_EQ(b.Data(), nullptr);

  ASSERT_TRUE(b.AppendString("stale"));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(b.LoadFromFile(Dir() + "/missing.bin"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(b.Data(), nullptr);

  EXPECT_FALSE(b.LoadFromFile(""));
  EXPECT_FALSE(b.LoadFromFile(Dir()));  // a folder is not a file
}

TEST_F(ByteBufferFile, SavingAnEmptyBufferLeavesAnEmptyFile) {
  const std::string path = Dir() + "/out.bin";
  kv::test::WriteFile(path, "previous, longer content");
  CByteBuffer empty;
  ASSERT_TRUE(empty.SaveToFile(path));
  EXPECT_EQ(fs::file_size(path), 0u);
  ASSERT_TRUE(empty.SaveToFile(Dir() + "/new.bin"));
  EXPECT_TRUE(fs::exists(Dir() + "/new.bin"));
}

TEST_F(ByteBufferFile, SaveTruncatesALongerFile) {
  const std::string path = Dir() + "/out.bin";
  kv::test::WriteFile(path, "previous, longer content");
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("new"));
  ASSERT_TRUE(b.SaveToFile(path));
  EXPECT_EQ(kv::test::ReadFile(path), "new");
}

TEST_F(ByteBufferFile, SaveFailures) {
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("x"));
  EXPECT_FALSE(b.SaveToFile(""));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(b.SaveToFile(Dir() + "/no/such/folder/out.bin"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(ByteBufferFile, BackslashPaths) {
  fs::create_directories(Dir() + "/sub/deeper");
  const std::string path = Dir() + "\\sub\\deeper\\cert.cer";
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("certificate"));
  ASSERT_TRUE(b.SaveToFile(path));
  EXPECT_EQ(kv::test::ReadFile(Dir() + "/sub/deeper/cert.cer"), "certificate");
  CByteBuffer in;
  ASSERT_TRUE(in.LoadFromFile(path));
  EXPECT_STREQ(in.c_str(), "certificate");
  EXPECT_TRUE(CByteBuffer::RemoveFile(path));
  EXPECT_FALSE(fs::exists(Dir() + "/sub/deeper/cert.cer"));
}

// "功能" in code page 950 is A5 5C AF E0: its first character's second byte is
// a backslash that must not split the name.
TEST_F(ByteBufferFile, Big5NameWithABackslashTrailByte) {
  fs::create_directories(Dir() + "/\xE5\x8A\x9F");  // folder "功" in UTF-8
  const std::string name = Dir() + "\\\xA5\x5C\\\xA5\x5C\xAF\xE0.pfx";
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("pfx bytes"));
  ASSERT_TRUE(b.SaveToFile(name));
  const std::string onDisk = Dir() + "/\xE5\x8A\x9F/\xE5\x8A\x9F\xE8\x83\xBD.pfx";  // 功/功能.pfx
  EXPECT_EQ(kv::test::ReadFile(onDisk), "pfx bytes");
  CByteBuffer in;
  ASSERT_TRUE(in.LoadFromFile(name));
  EXPECT_STREQ(in.c_str(), "pfx bytes");
  EXPECT_TRUE(CByteBuffer::RemoveFile(name));
  EXPECT_FALSE(fs::exists(onDisk));
}

TEST_F(ByteBufferFile, RemoveFile) {
  const std::string path = Dir() + "/gone.bin";
  kv::test::WriteFile(path, "x");
  EXPECT_TRUE(CByteBuffer::RemoveFile(path));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(CByteBuffer::RemoveFile(path));
  EXPECT_FALSE(CByteBuffer::RemoveFile(""));
}

// Sparse files: nothing is allocated or read, the size alone must refuse them.
TEST_F(ByteBufferFile, FilesOf2GiBOrMoreAreRefused) {
  for (const uintmax_t size : {uintmax_t{1} << 31, (uintmax_t{1} << 32) + 1}) {
    const std::string path = Dir() + "/huge.bin";
    kv::test::WriteFile(path, "");
    fs::resize_file(path, size);
    CByteBuffer b;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(b.LoadFromFile(path)) << size;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(b.Data(), nullptr);
    fs::remove(path);
  }
}

}  // namespace
