// Encoding and decoding X509_NAME: each value type in its Windows form, a
// multi-valued RDN sorted, bad input refused, and no truncation decoded.
#define KV_WINCRYPT_STRUCT_NAMES 1
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/crypt/crypt_test_support.h"
#include "support/conformance.h"
#include "support/temp_home.h"

namespace {

using kv::test::crypt::Hex;

constexpr DWORD kEnc = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

using kv::test::crypt::EncodeObject;

class NameEncodeTest : public kv::test::HomeTest {};

TEST_F(NameEncodeTest, NameValueTypesAsWindowsEncodesThem) {
  const char16_t cn[] = u"\u6e2c\u8a66";  // 測試
  char country[] = "TW";
  char org[] = "Korvessa";
  CERT_RDN_ATTR attrs[] = {
      {const_cast<LPSTR>("2.5.4.6"), 4 /* printable */, {2, reinterpret_cast<BYTE*>(country)}},
      {const_cast<LPSTR>("2.5.4.10"), 5 /* teletex */, {0, reinterpret_cast<BYTE*>(org)}},
      {const_cast<LPSTR>("2.5.4.3"), 12 /* unicode */, {4, reinterpret_cast<BYTE*>(const_cast<char16_t*>(cn))}},
      {const_cast<LPSTR>("2.5.4.11"), 13 /* UTF-8 */, {0, reinterpret_cast<BYTE*>(const_cast<char16_t*>(cn))}},
  };
  CERT_RDN rdns[] = {{1, &attrs[0]}, {1, &attrs[1]}, {1, &attrs[2]}, {1, &attrs[3]}};
  CERT_NAME_INFO info = {4, rdns};
  std::vector<BYTE> der = EncodeObject(X509_NAME, &info);
  EXPECT_EQ(Hex(der),
            "3040"
            "310B300906035504061302" "5457"
            "3111300F060355040A1408" "4B6F727665737361"
            "310D300B06035504031E04" "6E2C8A66"
            "310F300D060355040B0C06" "E6B8ACE8A9A6");

  DWORD size = 3;
  BYTE small[3];
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEncodeObject(kEnc, X509_NAME, &info, small, &size));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
  EXPECT_EQ(size, der.size());

  // Decoding gives the values back in their Windows forms.
  DWORD need = 0;
  ASSERT_TRUE(CryptDecodeObject(kEnc, X509_NAME, der.data(), (DWORD)der.size(), 0, nullptr, &need));
  std::vector<BYTE> buf(need);
  ASSERT_TRUE(CryptDecodeObject(kEnc, X509_NAME, der.data(), (DWORD)der.size(), 0, buf.data(), &need));
  auto* decoded = reinterpret_cast<CERT_NAME_INFO*>(buf.data());
  ASSERT_EQ(decoded->cRDN, 4u);
  EXPECT_STREQ(decoded->rgRDN[2].rgRDNAttr[0].pszObjId, "2.5.4.3");
  EXPECT_EQ(decoded->rgRDN[2].rgRDNAttr[0].dwValueType, 12u);
  ASSERT_EQ(decoded->rgRDN[2].rgRDNAttr[0].Value.cbData, 4u);
  EXPECT_EQ(std::memcmp(decoded->rgRDN[2].rgRDNAttr[0].Value.pbData, cn, 4), 0);
  EXPECT_EQ(decoded->rgRDN[3].rgRDNAttr[0].dwValueType, 13u);
  EXPECT_EQ(std::memcmp(decoded->rgRDN[3].rgRDNAttr[0].Value.pbData, cn, 4), 0);
  EXPECT_EQ(decoded->rgRDN[1].rgRDNAttr[0].dwValueType, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(decoded->rgRDN[1].rgRDNAttr[0].Value.pbData),
                        decoded->rgRDN[1].rgRDNAttr[0].Value.cbData),
            "Korvessa");
}

TEST_F(NameEncodeTest, MultiValuedRdnIsSortedAndBadInputRefused) {
  char a[] = "b", b[] = "a";
  CERT_RDN_ATTR attrs[] = {
      {const_cast<LPSTR>("2.5.4.3"), 4, {1, reinterpret_cast<BYTE*>(a)}},
      {const_cast<LPSTR>("2.5.4.3"), 4, {1, reinterpret_cast<BYTE*>(b)}},
  };
  CERT_RDN rdn = {2, attrs};
  CERT_NAME_INFO info = {1, &rdn};
  EXPECT_EQ(Hex(EncodeObject(X509_NAME, &info)), "3016311430080603550403130161" "30080603550403130162");

  DWORD size = 0;
  BYTE notAName[] = {0x31, 0x00};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDecodeObject(kEnc, X509_NAME, notAName, 2, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_ASN1_BADTAG);
  attrs[0].dwValueType = 0;  // CERT_RDN_ANY_TYPE cannot be written
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEncodeObject(kEnc, X509_NAME, &info, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)E_INVALIDARG);

  attrs[0].dwValueType = 4;
  KV_WINE_DIFFERS("crypt32's own encoders take an encoding type of PKCS_7_ASN_ENCODING alone for X509_ASN_ENCODING");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEncodeObject(PKCS_7_ASN_ENCODING, X509_NAME, &info, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST_F(NameEncodeTest, NameDecodingSurvivesEveryTruncation) {
  char cn[] = "Truncated Name";
  const char16_t ou[] = u"\u55ae\u4f4d";
  CERT_RDN_ATTR attrs[] = {{const_cast<LPSTR>("2.5.4.3"), 4, {0, reinterpret_cast<BYTE*>(cn)}},
                           {const_cast<LPSTR>("2.5.4.11"), 13, {4, reinterpret_cast<BYTE*>(const_cast<char16_t*>(ou))}}};
  CERT_RDN rdns[] = {{1, &attrs[0]}, {1, &attrs[1]}};
  CERT_NAME_INFO info = {2, rdns};
  std::vector<BYTE> der = EncodeObject(X509_NAME, &info);
  auto refused = [&](DWORD cut) {
    DWORD size = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptDecodeObject(kEnc, X509_NAME, der.data(), cut, 0, nullptr, &size)) << cut;
    EXPECT_NE(GetLastError(), 0xdeadbeefu) << cut;
  };
  const DWORD whole = static_cast<DWORD>(der.size());
  for (DWORD cut = 0; cut + 1 < whole; ++cut) refused(cut);
  KV_WINE_DIFFERS("crypt32 decodes a name whose last string has lost its final byte");
  refused(whole - 1);
}

}  // namespace
