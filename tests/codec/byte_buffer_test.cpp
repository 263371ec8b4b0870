// CByteBuffer storage rules: guard bytes, failure cases that must leave the
// content alone, exact growth, reversal, and feeding a buffer its own bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/byte_buffer.h"

namespace {

std::vector<BYTE> Content(const CByteBuffer& b) {
  return b.Data() ? std::vector<BYTE>(b.Data(), b.Data() + b.Size()) : std::vector<BYTE>();
}

void ExpectGuardBytes(const CByteBuffer& b) {
  ASSERT_NE(b.Data(), nullptr);
  EXPECT_EQ(b.Data()[b.Size()], 0);
  EXPECT_EQ(b.Data()[b.Size() + 1], 0);
}

void ExpectEmpty(const CByteBuffer& b) {
  EXPECT_EQ(b.Data(), nullptr);
  EXPECT_EQ(b.Size(), 0);
  EXPECT_TRUE(b.Empty());
  EXPECT_STREQ(b.c_str(), "");
}

TEST(ByteBuffer, AllocateGivesZeroedContentFollowedByGuards) {
  CByteBuffer b;
  ExpectEmpty(b);
  ASSERT_TRUE(b.Allocate(3));
  EXPECT_EQ(Content(b), std::vector<BYTE>(3, 0));
  ExpectGuardBytes(b);
}

TEST(ByteBuffer, AllocateOfZeroOrNegativeEmptiesTheBuffer) {
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("keep"));
  EXPECT_FALSE(b.Allocate(0));
  ExpectEmpty(b);
  ASSERT_TRUE(b.AppendString("keep"));
  EXPECT_FALSE(b.Allocate(-5));
  ExpectEmpty(b);
}

TEST(ByteBuffer, AppendConcatenatesAndKeepsTheTextTerminated) {
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("AB"));
  ASSERT_TRUE(b.AppendString("CD"));
  EXPECT_STREQ(b.c_str(), "ABCD");
  EXPECT_EQ(b.Size(), 4);
  ExpectGuardBytes(b);
  // Two zero bytes also terminate the content read as UTF-16.
  const char16_t* wide = reinterpret_cast<const char16_t*>(b.Data());
  EXPECT_EQ(wide[2], u'\0');
}

TEST(ByteBuffer, RejectedAppendsLeaveTheContentAlone) {
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("xyz"));
  const BYTE* before = b.Data();
  EXPECT_FALSE(b.Append(nullptr, 4));
  EXPECT_FALSE(b.Append("abc", 0));
  EXPECT_FALSE(b.Append("abc", -1));
  EXPECT_FALSE(b.AppendString(""));
  EXPECT_EQ(b.Data(), before);
  EXPECT_STREQ(b.c_str(), "xyz");
}

TEST(ByteBuffer, AppendThatWouldPassTheSizeLimitFailsWithoutChange) {
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("xyz"));
  static const char big[1] = {'a'};
  // Only the length check runs: the source is never read when the total
  // would not fit the signed 32-bit size.
  EXPECT_FALSE(b.Append(big, INT32_MAX));
  EXPECT_STREQ(b.c_str(), "xyz");
}

TEST(ByteBuffer, AppendOfItsOwnBytesDoublesTheContent) {
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("abc"));
  ASSERT_TRUE(b.Append(b.Data(), b.Size()));
  EXPECT_STREQ(b.c_str(), "abcabc");
}

TEST(ByteBuffer, AppendedBinaryBytesIncludingZerosAreKept) {
  CByteBuffer b;
  const BYTE bytes[] = {0x00, 0xFF, 0x00, 0x5C};
  ASSERT_TRUE(b.Append(bytes, 4));
  ASSERT_TRUE(b.Append(bytes, 2));
  EXPECT_EQ(Content(b), (std::vector<BYTE>{0x00, 0xFF, 0x00, 0x5C, 0x00, 0xFF}));
  ExpectGuardBytes(b);
}

TEST(ByteBuffer, AssignReversedReversesTheBytes) {
  CByteBuffer b;
  const BYTE bytes[] = {0x01, 0x02, 0x03};
  ASSERT_TRUE(b.AssignReversed(bytes, 3));
  EXPECT_EQ(Content(b), (std::vector<BYTE>{0x03, 0x02, 0x01}));
  ExpectGuardBytes(b);
  ASSERT_TRUE(b.AssignReversed(bytes, 1));
  EXPECT_EQ(Content(b), (std::vector<BYTE>{0x01}));
}

TEST(ByteBuffer, AssignReversedInPlace) {
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("abcd"));
  ASSERT_TRUE(b.AssignReversed(b.Data(), b.Size()));
  EXPECT_STREQ(b.c_str(), "dcba");
}

TEST(ByteBuffer, AssignReversedFailures) {
  CByteBuffer b;
  // A null source still leaves the n zero bytes that were allocated.
  EXPECT_FALSE(b.AssignReversed(nullptr, 4));
  EXPECT_EQ(Content(b), std::vector<BYTE>(4, 0));
  EXPECT_FALSE(b.AssignReversed("ab", 0));
  ExpectEmpty(b);
  EXPECT_FALSE(b.AssignReversed("ab", -2));
  ExpectEmpty(b);
}

TEST(ByteBuffer, ClearReleasesAndBufferIsReusable) {
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("data"));
  b.Clear();
  ExpectEmpty(b);
  b.Clear();
  ExpectEmpty(b);
  ASSERT_TRUE(b.AppendString("again"));
  EXPECT_STREQ(b.c_str(), "again");
}

// Derived types (digests, ciphers) hand finished storage to the buffer.
class AdoptingBuffer : public CByteBuffer {
 public:
  bool Fill(const char* text) {
    const int32_t n = static_cast<int32_t>(std::strlen(text));
    BYTE* storage = AllocateStorage(n);
    if (!storage) return false;
    std::memcpy(storage, text, static_cast<size_t>(n));
    Adopt(storage, n);
    return true;
  }
  void AdoptNothing() { Adopt(nullptr, 5); }
};

TEST(ByteBuffer, AdoptReplacesTheContent) {
  AdoptingBuffer b;
  ASSERT_TRUE(b.AppendString("old"));
  ASSERT_TRUE(b.Fill("new content"));
  EXPECT_STREQ(b.c_str(), "new content");
  EXPECT_EQ(b.Size(), 11);
  b.AdoptNothing();
  ExpectEmpty(b);
}

}  // namespace
