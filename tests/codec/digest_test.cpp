// The digests against RFC 1321, FIPS 180 and the NIST SHAVS vectors, on the
// accelerated and on the portable block functions, and against OpenSSL for
// every length around the block boundaries and for arbitrary chunking.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <random>
#include <vector>
#include <string>

#include "codec/digest/block_functions.h"
#include "codec/digests.h"
#include "codec/vector_file.h"

namespace {

using kv::digest::Algorithm;
using kv::digest::Hasher;
using kv::digest::Implementation;

std::string Digest(Algorithm algorithm, const std::string& message) {
  Hasher hasher(algorithm);
  hasher.Update(message.data(), message.size());
  uint8_t out[kv::digest::kMaxDigestLength];
  hasher.Final(out);
  return kv::test::BytesToHex(out, hasher.length());
}

std::string OpenSslDigest(Algorithm algorithm, const std::string& message) {
  const EVP_MD* md = algorithm == Algorithm::kMd5    ? EVP_md5()
                     : algorithm == Algorithm::kSha1 ? EVP_sha1()
                     : algorithm == Algorithm::kSha256 ? EVP_sha256()
                     : algorithm == Algorithm::kSha384 ? EVP_sha384()
                                                       : EVP_sha512();
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(message.data(), message.size(), out, &length, md, nullptr);
  return kv::test::BytesToHex(out, length);
}

// Runs every test once on the processor's fastest path and once on the
// portable code.
class DigestPaths : public ::testing::TestWithParam<Implementation> {
 protected:
  void SetUp() override {
    saved_ = kv::digest::SelectedImplementation();
    kv::digest::SelectImplementation(GetParam());
  }
  void TearDown() override { kv::digest::SelectImplementation(saved_); }
  Implementation saved_ = Implementation::kAuto;
};

TEST_P(DigestPaths, KnownAnswers) {
  const auto blocks = kv::test::ReadVectorFile("codec/digest_vectors.txt");
  ASSERT_GE(blocks.size(), 20u);
  for (const auto& block : blocks) {
    const std::string& name = block.at("Algorithm");
    const Algorithm algorithm = name == "MD5"    ? Algorithm::kMd5
                                : name == "SHA1" ? Algorithm::kSha1
                                : name == "SHA256" ? Algorithm::kSha256
                                : name == "SHA384" ? Algorithm::kSha384
                                                   : Algorithm::kSha512;
    std::string message;
    const long repeat = block.count("Repeat") ? std::stol(block.at("Repeat")) : 1;
    for (long i = 0; i < repeat; ++i) message += block.at("Text");
    EXPECT_EQ(Digest(algorithm, message), block.at("MD")) << name << " of " << message.size() << " bytes";
  }
}

TEST_P(DigestPaths, NistShavsByteVectors) {
  const struct {
    const char* file;
    Algorithm algorithm;
  } files[] = {{"SHA1ShortMsg.rsp", Algorithm::kSha1},     {"SHA1LongMsg.rsp", Algorithm::kSha1},
               {"SHA256ShortMsg.rsp", Algorithm::kSha256}, {"SHA256LongMsg.rsp", Algorithm::kSha256},
               {"SHA512ShortMsg.rsp", Algorithm::kSha512}, {"SHA512LongMsg.rsp", Algorithm::kSha512}};
  for (const auto& f : files) {
    const auto blocks = kv::test::ReadVectorFile(std::string("codec/nist/") + f.file);
    ASSERT_GE(blocks.size(), 64u) << f.file;
    for (const auto& block : blocks) {
      if (!block.count("Len") || !block.count("Msg") || !block.count("MD")) continue;
      const size_t bytes = std::stoul(block.at("Len")) / 8;
      const std::string message = kv::test::HexToBytes(block.at("Msg")).substr(0, bytes);
      ASSERT_EQ(message.size(), bytes);
      EXPECT_EQ(Digest(f.algorithm, message), block.at("MD")) << f.file << " Len = " << block.at("Len");
    }
  }
}

TEST_P(DigestPaths, EveryLengthAroundBlockBoundariesMatchesOpenSsl) {
  std::mt19937 random(7);
  std::string message;
  for (int i = 0; i < 400; ++i) message.push_back(char(random()));
  for (Algorithm algorithm :
       {Algorithm::kMd5, Algorithm::kSha1, Algorithm::kSha256, Algorithm::kSha384, Algorithm::kSha512}) {
    for (size_t length = 0; length <= 300; ++length) {
      const std::string part = message.substr(0, length);
      ASSERT_EQ(Digest(algorithm, part), OpenSslDigest(algorithm, part)) << int(algorithm) << " length " << length;
    }
  }
}

TEST_P(DigestPaths, StreamingInAnyChunksEqualsOneShot) {
  std::mt19937 random(11);
  std::string message;
  for (int i = 0; i < 5000; ++i) message.push_back(char(random()));
  for (Algorithm algorithm :
       {Algorithm::kMd5, Algorithm::kSha1, Algorithm::kSha256, Algorithm::kSha384, Algorithm::kSha512}) {
    const std::string expected = OpenSslDigest(algorithm, message);
    for (int trial = 0; trial < 20; ++trial) {
      Hasher hasher(algorithm);
      size_t at = 0;
      while (at < message.size()) {
        const size_t chunk = std::min<size_t>(message.size() - at, random() % 300);
        hasher.Update(message.data() + at, chunk);
        at += chunk;
      }
      uint8_t out[kv::digest::kMaxDigestLength];
      hasher.Final(out);
      ASSERT_EQ(kv::test::BytesToHex(out, hasher.length()), expected);
      // Final starts a new message: the hasher is reusable.
      hasher.Update("abc", 3);
      hasher.Final(out);
      EXPECT_EQ(kv::test::BytesToHex(out, hasher.length()), OpenSslDigest(algorithm, "abc"));
    }
  }
}

TEST_P(DigestPaths, DigestObjectsHoldTheDigestInTheirBuffer) {
  CMd5Digest md5;
  CSha1Digest sha1;
  CSha256Digest sha256;
  CSha384Digest sha384;
  CSha512Digest sha512;
  ASSERT_TRUE(md5.Compute("abc", 3));
  ASSERT_TRUE(sha384.Compute("abc", 3));
  ASSERT_TRUE(sha1.Compute("abc", 3));
  ASSERT_TRUE(sha256.Compute("abc", 3));
  ASSERT_TRUE(sha512.Compute("abc", 3));
  EXPECT_EQ(kv::test::BytesToHex(md5.Data(), md5.Size()), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(kv::test::BytesToHex(sha1.Data(), sha1.Size()), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha256.Size(), 32);
  EXPECT_EQ(sha384.Size(), 48);
  EXPECT_EQ(sha512.Size(), 64);
  EXPECT_EQ(sha512.Data()[64], 0);  // the buffer's guard bytes follow the digest
  // No state survives: a second computation is independent of the first.
  ASSERT_TRUE(sha1.Compute("", 0));
  EXPECT_EQ(kv::test::BytesToHex(sha1.Data(), sha1.Size()), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  ASSERT_TRUE(md5.Compute(nullptr, 5));
  EXPECT_EQ(kv::test::BytesToHex(md5.Data(), md5.Size()), "d41d8cd98f00b204e9800998ecf8427e");
}

INSTANTIATE_TEST_SUITE_P(Digests, DigestPaths, ::testing::Values(Implementation::kAuto, Implementation::kPortable),
                         [](const auto& info) {
                           return std::string(info.param == Implementation::kAuto ? "Accelerated" : "Portable");
                         });

TEST(DigestSelection, ShaExtensionsAreUsedWhenPresentAndCanBeTurnedOff) {
  const Implementation saved = kv::digest::SelectedImplementation();
  kv::digest::SelectImplementation(Implementation::kAuto);
  EXPECT_EQ(kv::digest::UsingShaExtensions(), kv::digest::CpuHasShaExtensions());
  EXPECT_EQ(kv::digest::UsingAvx2Sha512(), kv::digest::CpuHasAvx2Bmi2());
  kv::digest::SelectImplementation(Implementation::kPortable);
  EXPECT_FALSE(kv::digest::UsingShaExtensions());
  EXPECT_FALSE(kv::digest::UsingAvx2Sha512());
  kv::digest::SelectImplementation(saved);
}

// A machine with AVX-512 runs only that SHA-512 path through the digests:
// the AVX2 one is checked against it and the portable one here, for one to
// five blocks (a lone block, pairs, and a pair followed by a lone block).
TEST(DigestSelection, Sha512VectorBlockFunctionsAgree) {
#if defined(KV_DIGEST_X86)
  if (!kv::digest::CpuHasAvx2Bmi2()) GTEST_SKIP() << "no AVX2";
  std::mt19937 random(512);
  std::vector<uint8_t> data(5 * 128);
  for (auto& byte : data) byte = static_cast<uint8_t>(random());
  for (size_t blocks = 1; blocks <= 5; ++blocks) {
    uint64_t portable[8] = {1, 2, 3, 4, 5, 6, 7, 8}, avx2[8], avx512[8];
    std::copy(portable, portable + 8, avx2);
    std::copy(portable, portable + 8, avx512);
    kv::digest::Sha512BlocksPortable(portable, data.data(), blocks);
    kv::digest::Sha512BlocksAvx2(avx2, data.data(), blocks);
    EXPECT_TRUE(std::equal(avx2, avx2 + 8, portable)) << blocks << " blocks";
    if (!kv::digest::CpuHasAvx512Vl()) continue;
    kv::digest::Sha512BlocksAvx512(avx512, data.data(), blocks);
    EXPECT_TRUE(std::equal(avx512, avx512 + 8, portable)) << blocks << " blocks";
  }
#else
  GTEST_SKIP() << "not x86";
#endif
}

TEST(DigestSelection, HashFlagsChooseTheAlgorithm) {
  using kv::digest::AlgorithmFromHashFlags;
  EXPECT_EQ(AlgorithmFromHashFlags(1), Algorithm::kMd5);
  EXPECT_EQ(AlgorithmFromHashFlags(0x11), Algorithm::kMd5);
  EXPECT_EQ(AlgorithmFromHashFlags(3), Algorithm::kSha256);
  EXPECT_EQ(AlgorithmFromHashFlags(4), Algorithm::kSha512);
  for (long flags : {0L, 2L, 5L, 6L, 7L, 0x10L, 0x7FFFFFF8L}) EXPECT_EQ(AlgorithmFromHashFlags(flags), Algorithm::kSha1);
}

}  // namespace
