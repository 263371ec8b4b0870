// Encoding calls with a key: RSA_CSP_PUBLICKEYBLOB, public-key information and PKCS#10 requests that OpenSSL verifies, signed
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

using kv::test::crypt::EncodeObject;

class EncodeTest : public kv::test::HomeTest {};

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
  EXPECT_EQ(EncodeObject(RSA_CSP_PUBLICKEYBLOB, blob.data()), der);

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
  std::vector<BYTE> subject = EncodeObject(X509_NAME, &name);

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
  std::vector<BYTE> publicKey = EncodeObject(X509_PUBLIC_KEY_INFO, spki);
  BYTE version[] = {0x02, 0x01, 0x00}, noAttributes[] = {0xA0, 0x00};
  CRYPT_DER_BLOB fields[] = {{3, version},
                             {(DWORD)subject.size(), subject.data()},
                             {(DWORD)publicKey.size(), publicKey.data()},
                             {2, noAttributes}};
  CRYPT_SEQUENCE_OF_ANY fieldList = {4, fields};
  std::vector<BYTE> toBeSigned = EncodeObject(X509_SEQUENCE_OF_ANY, &fieldList);
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
  EXPECT_EQ(Hex(EncodeObject(X509_CERT, &pieces)), Hex(der));
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
