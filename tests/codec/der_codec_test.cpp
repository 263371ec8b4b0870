// The DER codec: encoding rules (minimal lengths, INTEGER and BIT STRING
// leading bytes, object identifiers), header parsing with its OCTET STRING
// quirk, child walking under hostile lengths, and composite encoding.
#include <gtest/gtest.h>
#include <openssl/objects.h>

#include <string>

#include "codec/der/der_reader.h"
#include "codec/vector_file.h"

namespace {

using kv::test::BytesToHex;
using kv::test::HexToBytes;

std::string Hex(const CDerBlob& blob) { return BytesToHex(blob.Bytes(), blob.Length()); }
const BYTE* Bytes(const std::string& s) { return reinterpret_cast<const BYTE*>(s.data()); }
int32_t Length(const std::string& s) { return int32_t(s.size()); }

std::string OidContent(const char* text) {
  CDerElement oid;
  if (!oid.SetOid(text)) return "<failed>";
  return BytesToHex(oid.Value().Bytes(), oid.Value().Length());
}

std::string Encoded(CDerElement& element, int32_t tag, BYTE classBits) {
  CDerBlob out;
  if (!element.EncodeTo(&out, tag, classBits)) return "<failed>";
  return Hex(out);
}

TEST(DerOid, EncodesDottedAndBlankSeparatedText) {
  EXPECT_EQ(OidContent("2.16.840.1.101.3.4.2.1"), "608648016503040201");
  EXPECT_EQ(OidContent("1.2.840.113549.1.7.2"), "2a864886f70d010702");
  EXPECT_EQ(OidContent("1 2 840"), OidContent("1.2.840"));
  EXPECT_EQ(OidContent("1.2 840.113549"), "2a864886f70d");
  EXPECT_EQ(OidContent("0.39"), "27");
  EXPECT_EQ(OidContent("2.999.3"), "883703");
  CDerElement oid;
  ASSERT_TRUE(oid.SetOid("1.3.14.3.2.26"));
  EXPECT_EQ(oid.ClassBits(), kDerUniversal);
  EXPECT_EQ(oid.TagNumber(), kDerObjectIdentifier);
  EXPECT_EQ(Encoded(oid, kDerObjectIdentifier, kDerUniversal), "06052b0e03021a");
}

TEST(DerOid, AgreesWithOpenSsl) {
  for (const char* text : {"1.2.840.113549.1.1.11", "2.5.4.3", "1.3.6.1.4.1.311.20.2.3", "2.16.840.1.101.3.4.2.3",
                           "1.2.840.10045.4.3.2", "2.5.29.15", "0.9.2342.19200300.100.1.25"}) {
    ASN1_OBJECT* object = OBJ_txt2obj(text, 1);
    ASSERT_NE(object, nullptr);
    unsigned char buffer[64];
    unsigned char* p = buffer;
    const int length = i2d_ASN1_OBJECT(object, &p);
    ASN1_OBJECT_free(object);
    CDerElement oid;
    ASSERT_TRUE(oid.SetOid(text)) << text;
    EXPECT_EQ(Encoded(oid, kDerObjectIdentifier, kDerUniversal), BytesToHex(buffer, size_t(length))) << text;
  }
}

TEST(DerOid, RefusesMalformedText) {
  for (const char* text : {"", "0.40", "1.40", "1", "1.2.x", "3.1", "1.", "1..2", "1.2.", ".1.2", "12.3", "1-2",
                           "1.2.-3", "1.2.18446744073709551616"}) {
    CDerElement oid;
    EXPECT_FALSE(oid.SetOid(text)) << text;
  }
  CDerElement oid;
  EXPECT_FALSE(oid.SetOid(nullptr));
  // Content beyond 25 bytes is outside the codec's range.
  EXPECT_TRUE(oid.SetOid("1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17.18.19.20.21.22.23.24.25.26"));
  EXPECT_EQ(oid.Value().Length(), 25u);
  EXPECT_FALSE(oid.SetOid("1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17.18.19.20.21.22.23.24.25.26.27"));
  EXPECT_FALSE(oid.SetOid("1.2.18446744073709551615.18446744073709551615.18446744073709551615"));
}

TEST(DerEncode, IntegersKeepOneByteAndTheirSign) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"01", "020101"}, {"0080", "02020080"}, {"0000", "020100"}, {"ff", "020200ff"},
               {"00007f01", "02027f01"}, {"80000000", "02050080000000"}};
  for (const auto& c : cases) {
    CDerElement element;
    const std::string in = HexToBytes(c.in);
    ASSERT_TRUE(element.SetInteger(Bytes(in), Length(in)));
    EXPECT_EQ(Encoded(element, kDerInteger, kDerUniversal), c.out) << c.in;
  }
  CDerElement element;
  EXPECT_FALSE(element.SetInteger(nullptr, 2));
  EXPECT_FALSE(element.SetInteger("\x01", 0));
  EXPECT_FALSE(element.SetValue(nullptr, 3, kDerOctetString, false));
  EXPECT_FALSE(element.SetValue("abc", -1, kDerOctetString, false));
}

TEST(DerEncode, MinimalLengthsAndEmptyValues) {
  const struct {
    int32_t size;
    const char* header;
  } cases[] = {{127, "047f"}, {128, "048180"}, {255, "0481ff"}, {256, "04820100"}, {65536, "0483010000"}};
  for (const auto& c : cases) {
    const std::string value(size_t(c.size), '\x5a');
    CDerElement element;
    ASSERT_TRUE(element.SetValue(Bytes(value), c.size, kDerOctetString, false));
    const std::string hex = Encoded(element, kDerOctetString, kDerUniversal);
    EXPECT_EQ(hex.substr(0, strlen(c.header)), c.header);
    EXPECT_EQ(hex.size(), strlen(c.header) + 2 * size_t(c.size));
  }
  CDerElement null;
  ASSERT_TRUE(null.SetValue(nullptr, 0, kDerNull, false));
  EXPECT_EQ(Encoded(null, kDerNull, kDerUniversal), "0500");
  // Tags of 31 and above, and class bits outside the top three, are refused.
  EXPECT_EQ(Encoded(null, 31, kDerUniversal), "<failed>");
  EXPECT_EQ(Encoded(null, 5, 0x81), "<failed>");
}

TEST(DerEncode, BitStringsAlwaysCarryTheUnusedBitsByte) {
  CDerElement bits;
  ASSERT_TRUE(bits.SetValue("\xAB\xCD", 2, kDerBitString, true));
  EXPECT_EQ(Encoded(bits, kDerBitString, kDerUniversal), "030300abcd");
  CDerElement plain;
  ASSERT_TRUE(plain.SetValue("\xAB", 1, kDerBitString, false));
  EXPECT_EQ(Encoded(plain, kDerBitString, kDerUniversal), "030200ab");
  // Under another tag the same bytes carry no extra byte.
  CDerElement octets;
  ASSERT_TRUE(octets.SetValue("\xAB", 1, kDerOctetString, false));
  EXPECT_EQ(Encoded(octets, 0, kDerContext), "8001ab");
}

TEST(DerEncode, CompositesEncodeMembersIntoTheOuterValue) {
  CDerElement algorithm, oid, parameters;
  ASSERT_TRUE(oid.SetOid("1.2.840.113549.1.1.1"));
  ASSERT_TRUE(parameters.SetValue(nullptr, 0, kDerNull, false));
  algorithm.Value().Clear();
  ASSERT_TRUE(oid.EncodeTo(&algorithm.Value(), kDerObjectIdentifier, kDerUniversal));
  ASSERT_TRUE(parameters.EncodeTo(&algorithm.Value(), kDerNull, kDerUniversal));
  EXPECT_EQ(Encoded(algorithm, kDerSequence, kDerUniversalConstructed), "300d06092a864886f70d0101010500");
  EXPECT_EQ(Encoded(algorithm, 0, kDerContextConstructed), "a00d06092a864886f70d0101010500");
  // An element cannot be encoded into its own scratch value.
  EXPECT_FALSE(algorithm.EncodeTo(&algorithm.Value(), kDerSequence, kDerUniversalConstructed));
}

TEST(DerParse, OctetStringLeadingZeroRoundTrips) {
  const std::string input = HexToBytes("040300aabb");
  CDerElement element;
  ASSERT_TRUE(element.ParseHeader(Bytes(input), Length(input), kDerOctetString, kDerUniversal));
  EXPECT_EQ(BytesToHex(element.ValueView(), size_t(element.ValueViewLength())), "aabb");
  EXPECT_TRUE(element.HasLeadingByte());
  EXPECT_EQ(element.LeadingByte(), 0);
  EXPECT_EQ(Encoded(element, kDerOctetString, kDerUniversal), "040300aabb");

  const std::string other = HexToBytes("0402aabb");
  ASSERT_TRUE(element.ParseHeader(Bytes(other), Length(other), kDerOctetString, kDerUniversal));
  EXPECT_FALSE(element.HasLeadingByte());
  EXPECT_EQ(Encoded(element, kDerOctetString, kDerUniversal), "0402aabb");

  const std::string bits = HexToBytes("030204f0");
  ASSERT_TRUE(element.ParseHeader(Bytes(bits), Length(bits), kDerBitString, kDerUniversal));
  EXPECT_EQ(element.LeadingByte(), 4);
  EXPECT_EQ(element.ValueViewLength(), 1);
  EXPECT_EQ(Encoded(element, kDerBitString, kDerUniversal), "030204f0");
}

TEST(DerParse, ClassAndTagChecks) {
  CDerElement element;
  const std::string a0 = HexToBytes("a0030201 02"), a3 = HexToBytes("a3020500");
  EXPECT_TRUE(element.ParseHeader(Bytes(a0), Length(a0), 0, kDerContextConstructed));
  EXPECT_EQ(element.TagNumber(), 0);
  EXPECT_TRUE(element.ParseHeader(Bytes(a3), Length(a3), 0, kDerContextConstructed));
  EXPECT_EQ(element.TagNumber(), 3);
  EXPECT_FALSE(element.ParseHeader(Bytes(a3), Length(a3), 2, kDerContextConstructed));
  EXPECT_FALSE(element.ParseHeader(Bytes(a3), Length(a3), 0, kDerUniversalConstructed));
  EXPECT_FALSE(element.ParseHeader(nullptr, 4, 0, kDerContextConstructed));
  EXPECT_FALSE(element.ParseHeader(Bytes(a3), -1, 0, kDerContextConstructed));
}

TEST(DerParse, HostileLengthsAreRefused) {
  for (const char* hex : {"04", "0405aabb", "0480aabb0000", "048500000000010000", "0484800000000000",
                          "0481", "048201", "1f", "1f8181818101"}) {
    const std::string input = HexToBytes(hex);
    CDerElement element;
    EXPECT_FALSE(element.ParseHeader(Bytes(input), Length(input), 0, input[0] == '\x1f' ? 0 : kDerUniversal))
        << hex;
  }
  // Every truncation of a valid encoding fails; the whole one parses, with
  // bytes after it left alone.
  const std::string good = HexToBytes("0482010a") + std::string(266, '\x11');
  CDerElement element;
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_FALSE(element.ParseHeader(Bytes(good), int32_t(cut), kDerOctetString, kDerUniversal)) << cut;
  }
  const std::string trailing = good + "tail";
  ASSERT_TRUE(element.ParseHeader(Bytes(trailing), Length(trailing), kDerOctetString, kDerUniversal));
  EXPECT_EQ(element.EncodedLength(), Length(good));
}

TEST(DerReader, ChildrenAreWalkedWithinTheParent) {
  const std::string input = HexToBytes("300a020101" "0500" "0403aabbcc" "ff");
  CDerReader reader;
  ASSERT_TRUE(reader.Parse(Bytes(input), Length(input), kDerSequence, kDerUniversalConstructed));
  const BYTE* child = nullptr;
  int32_t length = 0;
  ASSERT_TRUE(reader.NextChild(&child, &length));
  EXPECT_EQ(BytesToHex(child, size_t(length)), "020101");
  ASSERT_TRUE(reader.NextChild(&child, &length));
  EXPECT_EQ(BytesToHex(child, size_t(length)), "0500");
  ASSERT_TRUE(reader.NextChild(&child, &length));
  EXPECT_EQ(BytesToHex(child, size_t(length)), "0403aabbcc");
  EXPECT_FALSE(reader.NextChild(&child, &length));
  EXPECT_EQ(length, 0);
  EXPECT_TRUE(reader.AtEnd());

  CDerReader list;
  ASSERT_TRUE(list.ParseList(Bytes(input), Length(input), kDerSequence, kDerUniversalConstructed));
  ASSERT_EQ(list.ChildCount(), 3u);
  EXPECT_EQ(list.ChildAt(2).length, 5);
  // An empty SEQUENCE has no children and is filled exactly.
  const std::string empty = HexToBytes("3000");
  EXPECT_TRUE(list.ParseList(Bytes(empty), Length(empty), kDerSequence, kDerUniversalConstructed));
  EXPECT_EQ(list.ChildCount(), 0u);
}

TEST(DerReader, MalformedChildrenStopTheWalk) {
  for (const char* hex : {"3004" "0205010203",    // child longer than the parent
                          "3003" "020101" "00",  // parent shorter than its children... and junk after
                          "3003" "0483",         // long-form length bytes beyond the value
                          "3002" "0480",         // indefinite length
                          "3001" "02",           // a lone identifier
                          "3006" "0484ffffffff"}) {  // a length near 4 GiB
    const std::string input = HexToBytes(hex);
    CDerReader list;
    const bool parsed = list.ParseList(Bytes(input), Length(input), kDerSequence, kDerUniversalConstructed);
    if (std::string(hex) == "3003" "020101" "00") {
      EXPECT_TRUE(parsed);  // the byte after the SEQUENCE is not part of it
      continue;
    }
    EXPECT_FALSE(parsed) << hex;
  }
  // A universal primitive element has no children.
  const std::string octets = HexToBytes("0403020100");
  CDerReader reader;
  ASSERT_TRUE(reader.Parse(Bytes(octets), Length(octets), kDerOctetString, kDerUniversal));
  const BYTE* child = nullptr;
  int32_t length = 0;
  EXPECT_FALSE(reader.NextChild(&child, &length));
  EXPECT_FALSE(reader.ParseList(Bytes(octets), Length(octets), kDerOctetString, kDerUniversal));
}

TEST(DerBlob, AssignAppendAndSelfAppend) {
  CDerBlob blob;
  EXPECT_TRUE(blob.Assign("abc", 3));
  EXPECT_EQ(blob.Length(), 3u);
  EXPECT_EQ(blob.Bytes()[3], 0);
  EXPECT_FALSE(blob.Append("x", 0));
  EXPECT_FALSE(blob.Append(nullptr, 2));
  EXPECT_EQ(blob.Length(), 3u);
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(blob.Append(blob.Bytes(), int32_t(blob.Length())));
  EXPECT_EQ(blob.Length(), 192u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob.Bytes()) + 189, 3), "abc");
  EXPECT_EQ(blob.Bytes()[192], 0);
  EXPECT_FALSE(blob.Assign("abc", -1));
  EXPECT_TRUE(blob.Assign("", 0));
  EXPECT_EQ(blob.Length(), 0u);
  EXPECT_TRUE(blob.Allocate(4));
  EXPECT_EQ(BytesToHex(blob.Bytes(), blob.Length() + 1), "0000000000");
}

}  // namespace
