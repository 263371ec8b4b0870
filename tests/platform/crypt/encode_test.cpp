// Encoding calls: X509_NAME with its value types, RSA_CSP_PUBLICKEYBLOB,
// public-key information and PKCS#10 requests that OpenSSL verifies, signed
// whole or put together from their pieces.
#define KV_WINCRYPT_STRUCT_NAMES 1
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/crypt/crypt_test_support.h"
#include "support/temp_home.h"

namespace {

using kv::test::crypt::Hex;
using kv::test::crypt::SharedTestKey;

constexpr DWORD kEnc = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::vector<BYTE> Encode(LPCSTR type, const void* info) {
  DWORD size = 0;
  EXPECT_TRUE(CryptEncodeObject(kEnc, type, info, nullptr, &size));
  std::vector<BYTE> out(size);
  EXPECT_TRUE(CryptEncodeObject(kEnc, type, info, out.data(), &size));
  out.resize(size);
  return out;
}

class EncodeTest : public kv::test::HomeTest {};

TEST_F(EncodeTest, NameValueTypesAsWindowsEncodesThem) {
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
  std::vector<BYTE> der = Encode(X509_NAME, &info);
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

TEST_F(EncodeTest, MultiValuedRdnIsSortedAndBadInputRefused) {
  char a[] = "b", b[] = "a";
  CERT_RDN_ATTR attrs[] = {
      {const_cast<LPSTR>("2.5.4.3"), 4, {1, reinterpret_cast<BYTE*>(a)}},
      {const_cast<LPSTR>("2.5.4.3"), 4, {1, reinterpret_cast<BYTE*>(b)}},
  };
  CERT_RDN rdn = {2, attrs};
  CERT_NAME_INFO info = {1, &rdn};
  EXPECT_EQ(Hex(Encode(X509_NAME, &info)), "3016311430080603550403130161" "30080603550403130162");

  DWORD size = 0;
  attrs[0].dwValueType = 0;  // CERT_RDN_ANY_TYPE cannot be written
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEncodeObject(kEnc, X509_NAME, &info, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_ASN1_CHOICE);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEncodeObject(PKCS_7_ASN_ENCODING, X509_NAME, &info, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);

  BYTE notAName[] = {0x31, 0x00};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDecodeObject(kEnc, X509_NAME, notAName, 2, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_ASN1_BADTAG);
}

TEST_F(EncodeTest, RsaPublicKeyDecodesToTheWindowsBlob) {
  std::vector<BYTE> der = kv::test::crypt::RsaPublicKeyDer(SharedTestKey());
  DWORD size = 0;
  ASSERT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, der.data(), (DWORD)der.size(), 0, nullptr,
                                &size));
  EXPECT_EQ(size, 20u + 128);
  std::vector<BYTE> blob(size);
  ASSERT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, der.data(), (DWORD)der.size(), 0,
                                blob.data(), &size));
  EXPECT_EQ(blob, kv::test::crypt::ExpectedBlob(SharedTestKey(), CALG_RSA_KEYX, false));
  // And back.
  EXPECT_EQ(Encode(RSA_CSP_PUBLICKEYBLOB, blob.data()), der);

  // Every truncation fails cleanly.
  for (DWORD cut = 1; cut < der.size(); ++cut) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptDecodeObject(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, der.data(), cut, 0, nullptr, &size));
    EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_ASN1_EOD) << cut;
  }
  BYTE wrongTag[] = {0x31, 0x03, 0x02, 0x01, 0x01};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDecodeObject(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, wrongTag, 5, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_ASN1_BADTAG);
}

TEST_F(EncodeTest, Pkcs10RequestVerifiesWithOpenssl) {
  HCRYPTPROV prov = kv::test::crypt::ProviderWithKey("request", AT_KEYEXCHANGE);

  const char16_t cn[] = u"\u6e2c\u8a66 User";
  CERT_RDN_ATTR attr = {const_cast<LPSTR>("2.5.4.3"), 12,
                        {(DWORD)(sizeof(cn) - 2), reinterpret_cast<BYTE*>(const_cast<char16_t*>(cn))}};
  CERT_RDN rdn = {1, &attr};
  CERT_NAME_INFO name = {1, &rdn};
  std::vector<BYTE> subject = Encode(X509_NAME, &name);

  DWORD size = 0;
  ASSERT_TRUE(CryptExportPublicKeyInfo(prov, AT_KEYEXCHANGE, kEnc, nullptr, &size));
  std::vector<BYTE> spkiBuf(size);
  auto* spki = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(spkiBuf.data());
  ASSERT_TRUE(CryptExportPublicKeyInfo(prov, AT_KEYEXCHANGE, kEnc, spki, &size));
  EXPECT_STREQ(spki->Algorithm.pszObjId, "1.2.840.113549.1.1.1");
  EXPECT_EQ(Hex(std::vector<BYTE>(spki->Algorithm.Parameters.pbData,
                                  spki->Algorithm.Parameters.pbData + spki->Algorithm.Parameters.cbData)),
            "0500");
  EXPECT_EQ(std::vector<BYTE>(spki->PublicKey.pbData, spki->PublicKey.pbData + spki->PublicKey.cbData),
            kv::test::crypt::RsaPublicKeyDer(SharedTestKey()));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptExportPublicKeyInfo(prov, AT_SIGNATURE, kEnc, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_NO_KEY);

  CERT_REQUEST_INFO request = {};
  request.dwVersion = 0;
  request.Subject.cbData = (DWORD)subject.size();
  request.Subject.pbData = subject.data();
  request.SubjectPublicKeyInfo = *spki;
  CRYPT_ALGORITHM_IDENTIFIER sigAlg = {const_cast<LPSTR>("1.2.840.113549.1.1.5"), {0, nullptr}};
  size = 0;
  ASSERT_TRUE(CryptSignAndEncodeCertificate(prov, AT_KEYEXCHANGE, kEnc, X509_CERT_REQUEST_TO_BE_SIGNED, &request,
                                            &sigAlg, nullptr, nullptr, &size));
  // The size query signs nothing, yet announces the exact length; a buffer
  // one byte short is told the same length.
  const DWORD queried = size;
  std::vector<BYTE> der(size);
  size = queried - 1;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSignAndEncodeCertificate(prov, AT_KEYEXCHANGE, kEnc, X509_CERT_REQUEST_TO_BE_SIGNED, &request,
                                             &sigAlg, nullptr, der.data(), &size));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
  EXPECT_EQ(size, queried);
  ASSERT_TRUE(CryptSignAndEncodeCertificate(prov, AT_KEYEXCHANGE, kEnc, X509_CERT_REQUEST_TO_BE_SIGNED, &request,
                                            &sigAlg, nullptr, der.data(), &size));
  EXPECT_EQ(size, queried);
  der.resize(size);
  std::string path = home_.path() + "/req.der";
  kv::test::WriteFile(path, std::string(der.begin(), der.end()));
  std::string out;
  EXPECT_EQ(kv::test::RunCommand("openssl req -inform DER -in " + path + " -verify -noout -text -nameopt utf8 2>&1", &out),
            0)
      << out;
  EXPECT_NE(out.find("verify OK"), std::string::npos) << out;
  EXPECT_NE(out.find("sha1WithRSAEncryption"), std::string::npos) << out;
  EXPECT_NE(out.find("CN=\xE6\xB8\xAC\xE8\xA9\xA6 User"), std::string::npos) << out;
  EXPECT_NE(out.find("Attributes:"), std::string::npos) << out;

  // The same request from its pieces: the request info as a SEQUENCE OF ANY
  // of its encoded fields, CryptSignCertificate's signature (least
  // significant byte first) and X509_CERT around them. PKCS#1 v1.5
  // signatures are deterministic, so the bytes must be the same.
  std::vector<BYTE> publicKey = Encode(X509_PUBLIC_KEY_INFO, spki);
  BYTE version[] = {0x02, 0x01, 0x00}, noAttributes[] = {0xA0, 0x00};
  CRYPT_DER_BLOB fields[] = {{3, version},
                             {(DWORD)subject.size(), subject.data()},
                             {(DWORD)publicKey.size(), publicKey.data()},
                             {2, noAttributes}};
  CRYPT_SEQUENCE_OF_ANY fieldList = {4, fields};
  std::vector<BYTE> toBeSigned = Encode(X509_SEQUENCE_OF_ANY, &fieldList);
  DWORD sigSize = 0;
  ASSERT_TRUE(CryptSignCertificate(prov, AT_KEYEXCHANGE, kEnc, toBeSigned.data(), (DWORD)toBeSigned.size(), &sigAlg,
                                   nullptr, nullptr, &sigSize));
  std::vector<BYTE> signature(sigSize);
  DWORD shortSize = sigSize - 1;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSignCertificate(prov, AT_KEYEXCHANGE, kEnc, toBeSigned.data(), (DWORD)toBeSigned.size(), &sigAlg,
                                    nullptr, signature.data(), &shortSize));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
  EXPECT_EQ(shortSize, sigSize);
  ASSERT_TRUE(CryptSignCertificate(prov, AT_KEYEXCHANGE, kEnc, toBeSigned.data(), (DWORD)toBeSigned.size(), &sigAlg,
                                   nullptr, signature.data(), &sigSize));
  CERT_SIGNED_CONTENT_INFO pieces = {};
  pieces.ToBeSigned = {(DWORD)toBeSigned.size(), toBeSigned.data()};
  pieces.SignatureAlgorithm = sigAlg;
  pieces.Signature = {sigSize, signature.data(), 0};
  EXPECT_EQ(Hex(Encode(X509_CERT, &pieces)), Hex(der));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSignCertificate(prov, AT_SIGNATURE, kEnc, toBeSigned.data(), (DWORD)toBeSigned.size(), &sigAlg,
                                    nullptr, nullptr, &sigSize));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_NO_KEY);

  CRYPT_ALGORITHM_IDENTIFIER unknown = {const_cast<LPSTR>("1.2.3.4"), {0, nullptr}};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSignAndEncodeCertificate(prov, AT_KEYEXCHANGE, kEnc, X509_CERT_REQUEST_TO_BE_SIGNED, &request,
                                             &unknown, nullptr, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_ALGID);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSignAndEncodeCertificate(prov, AT_SIGNATURE, kEnc, X509_CERT_REQUEST_TO_BE_SIGNED, &request,
                                             &sigAlg, nullptr, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_NO_KEY);
  CryptReleaseContext(prov, 0);
}

}  // namespace

namespace {

TEST_F(EncodeTest, NameDecodingSurvivesEveryTruncation) {
  char cn[] = "Truncated Name";
  const char16_t ou[] = u"\u55ae\u4f4d";
  CERT_RDN_ATTR attrs[] = {{const_cast<LPSTR>("2.5.4.3"), 4, {0, reinterpret_cast<BYTE*>(cn)}},
                           {const_cast<LPSTR>("2.5.4.11"), 13, {4, reinterpret_cast<BYTE*>(const_cast<char16_t*>(ou))}}};
  CERT_RDN rdns[] = {{1, &attrs[0]}, {1, &attrs[1]}};
  CERT_NAME_INFO info = {2, rdns};
  std::vector<BYTE> der = Encode(X509_NAME, &info);
  for (DWORD cut = 0; cut < der.size(); ++cut) {
    DWORD size = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptDecodeObject(kEnc, X509_NAME, der.data(), cut, 0, nullptr, &size)) << cut;
    EXPECT_NE(GetLastError(), 0xdeadbeefu) << cut;
  }
}

}  // namespace
