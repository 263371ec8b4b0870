// Base64 codec: RFC 4648 vectors, the armour rule, skipped and odd
// characters, truncated input, round trips against OpenSSL, and the bulk
// kernels (scalar and AVX2) against a character-at-a-time model.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "base64_reference.h"
#include "codec/base64_kernels.h"
#include "codec/byte_buffer.h"
#include "vector_blocks.h"

namespace {

namespace b64 = kv::codec::base64;

std::vector<BYTE> Content(const CByteBuffer& b) {
  return b.Data() ? std::vector<BYTE>(b.Data(), b.Data() + b.Size()) : std::vector<BYTE>();
}

std::vector<BYTE> Bytes(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }

// Decodes with the codec and checks it against the model; returns the bytes.
std::vector<BYTE> DecodeLikeTheModel(const std::string& text, bool* succeeded = nullptr) {
  CByteBuffer b;
  const bool ok = b.DecodeBase64(text.c_str());
  if (succeeded) *succeeded = ok;
  std::vector<uint8_t> model;
  const bool modelOk = kv::test::ReferenceDecodeBase64(text, &model);
  EXPECT_EQ(ok, modelOk) << text;
  EXPECT_EQ(Content(b), model) << text;
  if (ok) {
    EXPECT_EQ(b.Data()[b.Size()], 0);
    EXPECT_EQ(b.Data()[b.Size() + 1], 0);
  } else {
    EXPECT_EQ(b.Data(), nullptr);
  }
  return Content(b);
}

std::vector<BYTE> Decode(const std::string& text, bool expectOk = true) {
  bool ok = false;
  std::vector<BYTE> bytes = DecodeLikeTheModel(text, &ok);
  EXPECT_EQ(ok, expectOk) << text;
  return bytes;
}

// Runs every test of this file once with the best kernels and once with the
// scalar ones.
class Base64Codec : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { b64::ForceScalarKernels(GetParam()); }
  void TearDown() override { b64::ForceScalarKernels(false); }
};

INSTANTIATE_TEST_SUITE_P(Kernels, Base64Codec, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Scalar" : "Best"; });

TEST_P(Base64Codec, Rfc4648Vectors) {
  const auto blocks = kv::test::ReadVectorBlocks(KV_SOURCE_DIR "/tests/data/codec/base64_rfc4648.txt");
  ASSERT_EQ(blocks.size(), 7u);
  for (const auto& v : blocks) {
    const std::string& plain = v.at("Plain");
    const std::string& encoded = v.at("Base64");
    SCOPED_TRACE(plain);
    CByteBuffer b;
    if (plain.empty()) {
      EXPECT_FALSE(b.EncodeBase64(plain.data(), 0));
      Decode(encoded, false);
      continue;
    }
    ASSERT_TRUE(b.EncodeBase64(plain.data(), static_cast<int32_t>(plain.size())));
    EXPECT_EQ(b.c_str(), encoded);
    EXPECT_EQ(b.Size(), static_cast<int32_t>(encoded.size()));
    EXPECT_EQ(Decode(encoded), Bytes(plain));
  }
}

TEST_P(Base64Codec, EncodeFailuresLeaveTheBufferEmpty) {
  CByteBuffer b;
  ASSERT_TRUE(b.AppendString("stale"));
  EXPECT_FALSE(b.EncodeBase64("abc", 0));
  EXPECT_EQ(b.Data(), nullptr);
  EXPECT_FALSE(b.EncodeBase64("abc", -3));
  EXPECT_FALSE(b.EncodeBase64(nullptr, 3));
  EXPECT_EQ(b.Data(), nullptr);
}

TEST_P(Base64Codec, MissingPadsAndLineBreaksChangeNothing) {
  EXPECT_EQ(Decode("Zm9vYg"), Bytes("foob"));
  EXPECT_EQ(Decode("Zm9v\r\nYg==\r\n"), Bytes("foob"));
  EXPECT_EQ(Decode("  Zm 9v\nYg\n= =  "), Bytes("foob"));
  EXPECT_EQ(Decode("Zm9vYmE"), Bytes("fooba"));
}

TEST_P(Base64Codec, NothingToDecodeFails) {
  Decode("", false);
  Decode("\r\n \r\n", false);
  CByteBuffer b;
  EXPECT_FALSE(b.DecodeBase64(nullptr));
}

TEST_P(Base64Codec, ArmourIsFoundByDashesWhateverTheLabel) {
  const std::string lines = "TUlJQmFzZTY0IGJvZHkgb2Ygc29tZSBjZXJ0aWZpY2F0ZQ==\r\nAQID\r\n";
  const std::vector<BYTE> bare = Decode(lines);
  EXPECT_EQ(Decode("-----BEGIN CERTIFICATE-----\r\n" + lines + "-----END CERTIFICATE-----\r\n"), bare);
  EXPECT_EQ(Decode("-----BEGIN CERTIFICATE-----\n" + lines + "-----END CERTIFICATE-----"), bare);
  EXPECT_EQ(Decode("-----BEGIN PKCS #7-----\n" + lines + "-----END PKCS #7-----\n"), bare);
  EXPECT_EQ(Decode("-----BEGIN ANYTHING AT ALL-----\n" + lines + "-----END-----"), bare);
  // Text before the first marker: the label is wherever the first "----"
  // after the leading dashes ends.
  EXPECT_EQ(Decode("junk ----\r\n" + lines + "----"), bare);
}

TEST_P(Base64Codec, UnpairedArmourFails) {
  Decode("-----BEGIN CERTIFICATE-----", false);
  Decode("-----BEGIN CERTIFICATE-----\r\nZm9v\r\n", false);
  Decode("Zm9v----", false);
  Decode("----", false);
  // Markers that pair up around nothing but blanks.
  Decode("-----BEGIN X-----\r\n  \r\n-----END X-----", false);
  // The run skipped after the opening marker swallows a closing one that
  // follows at once, and the label of an empty armour becomes the body.
  Decode("-----BEGIN X-----\n-----", false);
  EXPECT_EQ(Decode("-----BEGIN X-----\n-----END X-----"), Decode("ENDX"));
}

TEST_P(Base64Codec, ThreeDashesAreNotArmour) {
  EXPECT_EQ(Decode("---Zm9v"), Decode("BBBZm9v"));
}

TEST_P(Base64Codec, OddCharactersTakePartInTheArithmetic) {
  // '*' has index 65 and then acts like the value 1 ('B').
  EXPECT_EQ(Decode("Zm9*"), Decode("Zm9B"));
  EXPECT_EQ(Decode("*m9v"), Decode("Bm9v"));
  // A tab is not skipped: it is an odd character.
  EXPECT_EQ(Decode("Zm\t9"), Decode("ZmB9"));
  // Bytes from 0x80 up and the dashes of an unarmoured text too.
  EXPECT_EQ(Decode("Zm\xA5v"), Decode("ZmBv"));
  EXPECT_EQ(Decode("Zm-v"), Decode("ZmBv"));
}

TEST_P(Base64Codec, PadsInTheMiddleEndOnlyTheirGroup) {
  EXPECT_EQ(Decode("Zg==Zm8=Zm9v"), Bytes("ffofoo"));
  // A pad in the first two positions counts as zero.
  EXPECT_EQ(Decode("==AA"), (std::vector<BYTE>{0x00, 0x00, 0x00}));
  EXPECT_EQ(Decode("Z=AA"), (std::vector<BYTE>{0x64, 0x00, 0x00}));
  // A pad third ends the group at one byte even when a symbol follows.
  EXPECT_EQ(Decode("Zm=vZm9v"), Bytes("ffoo"));
}

TEST_P(Base64Codec, TruncatedInputDecodesWhatIsThere) {
  const std::string full = "Zm9vYmFyYmF6";  // foobarbaz
  for (size_t n = 1; n <= full.size(); ++n) {
    const std::vector<BYTE> got = Decode(full.substr(0, n));
    // A cut group yields one byte for one or two symbols, two for three.
    static const size_t kTail[4] = {0, 1, 1, 2};
    EXPECT_EQ(got.size(), 3 * (n / 4) + kTail[n % 4]);
    const std::vector<BYTE> prefix = Bytes(std::string("foobarbaz").substr(0, (n * 6) / 8));
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), got.begin())) << n;
  }
}

TEST_P(Base64Codec, DecodeOfTheBuffersOwnText) {
  CByteBuffer b;
  ASSERT_TRUE(b.EncodeBase64("foobar", 6));
  ASSERT_TRUE(b.DecodeBase64(b.c_str()));
  EXPECT_EQ(Content(b), Bytes("foobar"));
  ASSERT_TRUE(b.EncodeBase64(b.Data(), b.Size()));
  EXPECT_STREQ(b.c_str(), "Zm9vYmFy");
}

TEST_P(Base64Codec, IndexOfEveryCharacter) {
  for (int c = -128; c < 128; ++c) {
    EXPECT_EQ(CByteBuffer::Base64Index(static_cast<char>(c)), kv::test::ReferenceBase64Index(static_cast<char>(c))) << c;
  }
  EXPECT_EQ(CByteBuffer::Base64Index('A'), 0);
  EXPECT_EQ(CByteBuffer::Base64Index('/'), 63);
  EXPECT_EQ(CByteBuffer::Base64Index('='), 64);
  EXPECT_EQ(CByteBuffer::Base64Index('*'), 65);
}

// Random data of many lengths: our text equals OpenSSL's, and our decoder
// reads OpenSSL's text back to the original bytes, bare and wrapped.
TEST_P(Base64Codec, RoundTripsAgainstOpenssl) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 300; ++round) {
    const size_t n = round < 200 ? static_cast<size_t>(round + 1) : 1 + rng() % 5000;
    std::vector<BYTE> data(n);
    for (auto& byte : data) byte = static_cast<BYTE>(rng());
    std::string theirs(4 * ((n + 2) / 3) + 1, '\0');
    const int len = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&theirs[0]), data.data(), static_cast<int>(n));
    theirs.resize(static_cast<size_t>(len));

    CByteBuffer ours;
    ASSERT_TRUE(ours.EncodeBase64(data.data(), static_cast<int32_t>(n)));
    ASSERT_EQ(ours.c_str(), theirs) << n;

    CByteBuffer back;
    ASSERT_TRUE(back.DecodeBase64(theirs.c_str()));
    ASSERT_EQ(Content(back), data) << n;

    std::string wrapped = "-----BEGIN DATA-----\r\n";
    for (size_t i = 0; i < theirs.size(); i += 64) wrapped += theirs.substr(i, 64) + "\r\n";
    wrapped += "-----END DATA-----\r\n";
    ASSERT_TRUE(back.DecodeBase64(wrapped.c_str()));
    ASSERT_EQ(Content(back), data) << n;
  }
}

// Mostly-valid texts with odd characters, pads, blanks and dashes sprinkled
// in: the codec, whichever path it takes, must match the model byte for byte.
TEST_P(Base64Codec, MatchesTheModelOnNoisyTexts) {
  static const char kNoise[] = "=\r\n \t-*\x80\xFF.";
  std::mt19937 rng(42);
  for (int round = 0; round < 2000; ++round) {
    const size_t length = 1 + rng() % 400;
    const unsigned noisePerMille = rng() % 60;
    std::string text;
    for (size_t i = 0; i < length; ++i) {
      if (rng() % 1000 < noisePerMille) {
        text += kNoise[rng() % (sizeof kNoise - 1)];
      } else {
        text += b64::kAlphabet[rng() % 64];
      }
    }
    if (round % 10 == 0) text = "-----BEGIN X-----\r\n" + text + "\r\n-----END X-----\r\n";
    DecodeLikeTheModel(text);
    if (HasFailure()) return;
  }
}

// A dispatch that silently never picks AVX2 would go unnoticed otherwise.
TEST(Base64Kernels, Avx2IsUsedWhereTheCpuHasIt) {
#if defined(__x86_64__) && defined(__GNUC__)
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 on this CPU";
  EXPECT_NE(b64::EncodeAvx2(), nullptr);
  EXPECT_NE(b64::DecodeAvx2(), nullptr);
  EXPECT_EQ(b64::ActiveDecodeKernel(), b64::DecodeAvx2());
  EXPECT_EQ(b64::ActiveEncodeKernel(), b64::EncodeAvx2());
#else
  GTEST_SKIP() << "AVX2 kernels are built for x86-64 only here";
#endif
}

// The bulk kernels on their own, for every character value at every position
// of a block long enough for the AVX2 path: they must take exactly the groups
// of pure alphabet characters and decode them as the model does.
TEST(Base64Kernels, DecodeKernelsStopAtTheFirstGroupWithAnOddCharacter) {
  std::vector<b64::DecodeKernel> kernels = {&b64::DecodeScalar};
  if (b64::DecodeAvx2()) kernels.push_back(b64::DecodeAvx2());
  const std::string base = "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0NTY3ODkrLw";
  for (const auto kernel : kernels) {
    for (int c = 0; c < 256; ++c) {
      for (size_t pos : {0u, 5u, 31u, 32u, 40u, 63u, 70u}) {
        std::string text = base;
        text[pos] = static_cast<char>(c);
        const bool alphabet = kv::test::ReferenceBase64Index(static_cast<char>(c)) < 64;
        std::vector<uint8_t> out(text.size() + 16, 0xEE);
        const size_t consumed = kernel(text.data(), text.size(), out.data());
        const size_t whole = text.size() / 4 * 4;
        ASSERT_EQ(consumed, alphabet ? whole : pos / 4 * 4) << c << " at " << pos;
        if (consumed == 0) continue;
        std::vector<uint8_t> model;
        ASSERT_TRUE(kv::test::ReferenceDecodeBase64(text.substr(0, consumed), &model));
        ASSERT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + consumed / 4 * 3), model);
      }
    }
  }
}

TEST(Base64Kernels, EncodeKernelsAgreeWithTheModel) {
  std::vector<b64::EncodeKernel> kernels = {&b64::EncodeScalar};
  if (b64::EncodeAvx2()) kernels.push_back(b64::EncodeAvx2());
  std::mt19937 rng(7);
  for (const auto kernel : kernels) {
    for (size_t n = 0; n < 200; ++n) {
      std::vector<uint8_t> data(n);
      for (auto& byte : data) byte = static_cast<uint8_t>(rng());
      std::string out(n / 3 * 4 + 8, '#');
      const size_t consumed = kernel(data.data(), n, &out[0]);
      ASSERT_EQ(consumed, n / 3 * 3);
      const std::string model = kv::test::ReferenceEncodeBase64(std::vector<uint8_t>(data.begin(), data.begin() + consumed));
      ASSERT_EQ(out.substr(0, model.size()), model) << n;
      ASSERT_EQ(out[model.size()], '#') << n;
    }
  }
}

}  // namespace
