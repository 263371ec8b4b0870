// The DER reader: hostile lengths and tags refused with Windows's decoding
// errors and the span left where it was; object identifiers as OpenSSL
// encodes them, both ways, and malformed dotted text refused.
#include <gtest/gtest.h>
#include <openssl/objects.h>

#include <string>

#include "codec/vector_file.h"
#include "der/der_builder.h"

namespace der = kv::der;

namespace {

TEST(DerSpan, HostileElementsAreRefusedWithoutMoving) {
  const struct {
    const char* hex;
    HRESULT error;
  } cases[] = {
      {"04", CRYPT_E_ASN1_EOD},           {"0405aabb", CRYPT_E_ASN1_EOD},
      {"0480aabb0000", CRYPT_E_ASN1_CORRUPT},  // indefinite length
      {"048500000000010000", CRYPT_E_ASN1_CORRUPT}, {"0484800000000000", CRYPT_E_ASN1_EOD},
      {"048201", CRYPT_E_ASN1_EOD},       {"1f8181818101", CRYPT_E_ASN1_BADTAG},
      {"0501", CRYPT_E_ASN1_EOD},
  };
  for (const auto& c : cases) {
    const std::string input = kv::test::HexToBytes(c.hex);
    der::Span span(reinterpret_cast<const uint8_t*>(input.data()), input.size()), contents;
    uint8_t tag;
    EXPECT_FALSE(span.ReadAny(&tag, &contents)) << c.hex;
    EXPECT_EQ(span.error(), c.error) << c.hex;
    EXPECT_EQ(span.size(), input.size()) << c.hex;
  }
  // Every truncation fails; the whole element reads and leaves what follows.
  const std::string good = kv::test::HexToBytes("0482010a") + std::string(266, '\x11') + "tail";
  for (size_t cut = 0; cut < good.size() - 4; ++cut) {
    der::Span span(reinterpret_cast<const uint8_t*>(good.data()), cut), contents;
    ASSERT_FALSE(span.Read(der::kOctetString, &contents)) << cut;
  }
  der::Span span(reinterpret_cast<const uint8_t*>(good.data()), good.size()), contents;
  ASSERT_TRUE(span.Read(der::kOctetString, &contents));
  EXPECT_EQ(contents.size(), 266u);
  EXPECT_EQ(span.size(), 4u);
  EXPECT_FALSE(span.Read(der::kOctetString, &contents));
  EXPECT_EQ(span.error(), CRYPT_E_ASN1_BADTAG);
}

TEST(DerOid, AgreesWithOpenSslBothWays) {
  for (const char* text : {"1.2.840.113549.1.1.11", "2.5.4.3", "1.3.6.1.4.1.311.20.2.3", "2.16.840.1.101.3.4.2.3",
                           "1.2.840.113549.1.9.16.2.47", "0.9.2342.19200300.100.1.25", "2.999.3", "0.39"}) {
    ASN1_OBJECT* object = OBJ_txt2obj(text, 1);
    ASSERT_NE(object, nullptr);
    unsigned char buffer[64];
    unsigned char* p = buffer;
    const int length = i2d_ASN1_OBJECT(object, &p);
    ASN1_OBJECT_free(object);
    der::Builder b;
    ASSERT_TRUE(b.AddOid(text)) << text;
    der::Bytes out;
    ASSERT_TRUE(b.Finish(&out));
    EXPECT_EQ(kv::test::BytesToHex(out.data(), out.size()), kv::test::BytesToHex(buffer, size_t(length))) << text;
    std::string back;
    ASSERT_TRUE(der::OidToText(der::Span(out.data() + 2, out.size() - 2), &back));
    EXPECT_EQ(back, text);
  }
  for (const char* text : {"", "0.40", "1.40", "1", "1.2.x", "3.1", "1.", "1..2", "1.2.", ".1.2", "1-2", "1.2.-3",
                           "1.2.18446744073709551616"}) {
    der::Bytes contents;
    EXPECT_FALSE(der::TextToOid(text, &contents)) << text;
  }
  der::Builder b;
  EXPECT_FALSE(b.AddOid(nullptr));
}

}  // namespace
