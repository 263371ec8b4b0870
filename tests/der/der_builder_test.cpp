// The stand-in's DER writer: lengths patched in place at every size class,
// nesting, SET OF ordering, and refusal of unbalanced or failed builds.
#include <gtest/gtest.h>
#include <openssl/asn1.h>

#include <vector>

#include "der/der_builder.h"

namespace der = kv::der;

namespace {

der::Bytes Built(der::Builder& b) {
  der::Bytes out;
  EXPECT_TRUE(b.Finish(&out));
  return out;
}

TEST(DerBuilder, LengthsAtEverySizeClassNestInOnePass) {
  // 0, 0x7F (short form), 0x80 and 0xFF (one length byte), 0x100 and 0xFFFF
  // (two), 0x10000 (three): each inside two open levels, so both the
  // element's own length and its parents' are patched after moving content.
  for (size_t size : {0u, 0x7Fu, 0x80u, 0xFFu, 0x100u, 0xFFFFu, 0x10000u}) {
    std::vector<BYTE> content(size, 0xAB);
    der::Builder b;
    b.Open(der::kSequence);
    b.Open(der::kContext0);
    b.Add(der::kOctetString, content);
    b.Close();
    b.AddNull();
    b.Close();
    der::Bytes out = Built(b);

    // OpenSSL reads it back as the same structure.
    const unsigned char* p = out.data();
    long len = 0;
    int tag = 0, cls = 0;
    ASSERT_EQ(ASN1_get_object(&p, &len, &tag, &cls, static_cast<long>(out.size())) & 0x80, 0) << size;
    EXPECT_EQ(static_cast<size_t>(p - out.data()) + static_cast<size_t>(len), out.size()) << size;
    der::Span whole(out.data(), out.size()), seq, ctx, octets;
    ASSERT_TRUE(whole.Read(der::kSequence, &seq)) << size;
    ASSERT_TRUE(seq.Read(der::kContext0, &ctx)) << size;
    ASSERT_TRUE(ctx.Read(der::kOctetString, &octets)) << size;
    EXPECT_EQ(octets.ToVector(), content);
    der::Span null;
    EXPECT_TRUE(seq.Read(der::kNull, &null));
    EXPECT_TRUE(seq.empty() && whole.empty());
  }
}

TEST(DerBuilder, ShortestLengthFormOnly) {
  der::Builder b;
  b.Add(der::kOctetString, std::vector<BYTE>(0x80, 0));
  der::Bytes out = Built(b);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out[1], 0x81);
  EXPECT_EQ(out[2], 0x80);
  EXPECT_EQ(out.size(), 3u + 0x80);
}

TEST(DerBuilder, SetOfSortsItsElementsAndPlainSetKeepsOrder) {
  der::Builder b;
  b.OpenSetOf();
  b.AddSmallInteger(0x300);  // 02 02 03 00
  b.AddSmallInteger(5);      // 02 01 05
  b.AddNull();               // 05 00
  b.Close();
  EXPECT_EQ(Built(b), (der::Bytes{0x31, 0x09, 0x02, 0x01, 0x05, 0x02, 0x02, 0x03, 0x00, 0x05, 0x00}));

  b.Open(der::kSet);
  b.AddNull();
  b.AddSmallInteger(5);
  b.Close();
  EXPECT_EQ(Built(b), (der::Bytes{0x31, 0x05, 0x05, 0x00, 0x02, 0x01, 0x05}));
}

TEST(DerBuilder, IntegersAreMinimalAndUnsigned) {
  der::Builder b;
  const BYTE high[] = {0x00, 0x00, 0x80, 0x01};
  b.AddUnsignedInteger(high, sizeof high);
  b.AddSmallInteger(0);
  b.AddSmallInteger(0x7F);
  EXPECT_EQ(Built(b), (der::Bytes{0x02, 0x03, 0x00, 0x80, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x7F}));
}

TEST(DerBuilder, UnbalancedOrFailedBuildsAreRefused) {
  der::Bytes out{0xEE};
  der::Builder b;
  b.Open(der::kSequence);
  EXPECT_FALSE(b.Finish(&out));  // still open
  EXPECT_EQ(out, der::Bytes{0xEE});

  b.Close();  // nothing open any more: the builder was reset by Finish
  EXPECT_FALSE(b.Finish(&out));

  EXPECT_FALSE(b.AddOid("1.2.x"));
  EXPECT_FALSE(b.Finish(&out));

  // After a refusal the builder starts clean.
  EXPECT_TRUE(b.AddOid("1.2.840.113549.1.1.1"));
  EXPECT_EQ(Built(b), (der::Bytes{0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01}));
}

}  // namespace
