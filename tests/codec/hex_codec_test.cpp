// Hex codec: upper-case output, either-case input, the lenient decoding
// arithmetic for characters that are not hex digits, and the RFC 4648 Base16
// vectors.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/byte_buffer.h"
#include "vector_blocks.h"

namespace {

std::vector<BYTE> Content(const CByteBuffer& b) {
  return b.Data() ? std::vector<BYTE>(b.Data(), b.Data() + b.Size()) : std::vector<BYTE>();
}

TEST(HexCodec, EncodesUpperCaseWithoutSeparators) {
  CByteBuffer b;
  const BYTE bytes[] = {0x0A, 0xFF};
  ASSERT_TRUE(b.EncodeHex(bytes, 2));
  EXPECT_STREQ(b.c_str(), "0AFF");
  EXPECT_EQ(b.Size(), 4);
  const BYTE zero = 0;
  ASSERT_TRUE(b.EncodeHex(&zero, 1));
  EXPECT_STREQ(b.c_str(), "00");
}

TEST(HexCodec, EncodeFailuresLeaveTheBufferEmpty) {
  CByteBuffer b;
  const BYTE bytes[] = {1, 2};
  ASSERT_TRUE(b.AppendString("stale"));
  EXPECT_FALSE(b.EncodeHex(bytes, 0));
  EXPECT_EQ(b.Data(), nullptr);
  ASSERT_TRUE(b.AppendString("stale"));
  EXPECT_FALSE(b.EncodeHex(bytes, -1));
  EXPECT_EQ(b.Data(), nullptr);
  EXPECT_FALSE(b.EncodeHex(nullptr, 2));
  EXPECT_EQ(b.Data(), nullptr);
}

TEST(HexCodec, DecodesEitherCase) {
  CByteBuffer b;
  ASSERT_TRUE(b.DecodeHex("0aFf"));
  EXPECT_EQ(Content(b), (std::vector<BYTE>{0x0A, 0xFF}));
  EXPECT_EQ(b.Data()[2], 0);
  ASSERT_TRUE(b.DecodeHex("DEADbeef"));
  EXPECT_EQ(Content(b), (std::vector<BYTE>{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST(HexCodec, DecodeFailures) {
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("stale"));
  EXPECT_FALSE(b.DecodeHex("ABC"));
  EXPECT_EQ(b.Data(), nullptr);
  EXPECT_FALSE(b.DecodeHex(""));
  EXPECT_FALSE(b.DecodeHex(nullptr));
  EXPECT_EQ(b.Data(), nullptr);
}

// Non-digits are not rejected: they go through the same arithmetic.
TEST(HexCodec, NonDigitsDecodeByTheArithmetic) {
  CByteBuffer b;
  ASSERT_TRUE(b.DecodeHex("GG"));  // 'G' - 'A' + 10 = 16 -> 16*16 + 16
  EXPECT_EQ(Content(b), (std::vector<BYTE>{0x10}));
  ASSERT_TRUE(b.DecodeHex("g0"));  // lower case is upper-cased first
  EXPECT_EQ(Content(b), (std::vector<BYTE>{0x00}));
  ASSERT_TRUE(b.DecodeHex(" 1"));  // ' ' - '0' = -16 on 8 bits = 0xF0
  EXPECT_EQ(Content(b), (std::vector<BYTE>{0x01}));
  ASSERT_TRUE(b.DecodeHex("z:"));  // 'Z' -> 35, ':' (> '9') -> 3
  EXPECT_EQ(Content(b), (std::vector<BYTE>{static_cast<BYTE>(35 * 16 + 3)}));
  // Bytes from 0x80 up are negative characters, hence "<= '9'": c - '0'.
  ASSERT_TRUE(b.DecodeHex("\xA5\x5C"));
  EXPECT_EQ(Content(b), (std::vector<BYTE>{static_cast<BYTE>(((0xA5 - '0') * 16 + (0x5C - 'A' + 10)) & 0xFF)}));
}

TEST(HexCodec, RoundTripOfEveryByteValue) {
  std::vector<BYTE> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<BYTE>(i);
  CByteBuffer hex, back;
  ASSERT_TRUE(hex.EncodeHex(all.data(), 256));
  ASSERT_EQ(hex.Size(), 512);
  EXPECT_EQ(std::string(hex.c_str(), 6), "000102");
  EXPECT_EQ(std::string(hex.c_str()).substr(506), "FDFEFF");
  ASSERT_TRUE(back.DecodeHex(hex.c_str()));
  EXPECT_EQ(Content(back), all);
}

TEST(HexCodec, EncodeAndDecodeOfTheBuffersOwnContent) {
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("\x01\xAB"));
  ASSERT_TRUE(b.EncodeHex(b.Data(), b.Size()));
  EXPECT_STREQ(b.c_str(), "01AB");
  ASSERT_TRUE(b.DecodeHex(b.c_str()));
  EXPECT_EQ(Content(b), (std::vector<BYTE>{0x01, 0xAB}));
}

TEST(HexCodec, Rfc4648Base16Vectors) {
  const auto blocks = kv::test::ReadVectorBlocks(KV_SOURCE_DIR "/tests/data/codec/base64_rfc4648.txt");
  ASSERT_EQ(blocks.size(), 7u);
  for (const auto& v : blocks) {
    const std::string& plain = v.at("Plain");
    const std::string& hex = v.at("Hex");
    SCOPED_TRACE(plain);
    CByteBuffer b;
    if (plain.empty()) {
      EXPECT_FALSE(b.EncodeHex(plain.data(), 0));
      EXPECT_FALSE(b.DecodeHex(hex.c_str()));
      continue;
    }
    ASSERT_TRUE(b.EncodeHex(plain.data(), static_cast<int32_t>(plain.size())));
    EXPECT_EQ(b.c_str(), hex);
    ASSERT_TRUE(b.DecodeHex(hex.c_str()));
    EXPECT_EQ(std::string(b.c_str()), plain);
  }
}

}  // namespace
