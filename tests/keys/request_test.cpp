// Provider choice and request generation: requests checked by `openssl req`,
// the PendingRequest records byte for byte, the key's slot and flags, and
// the failure codes with their platform errors.
#include <gtest/gtest.h>

#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <set>

#include "keys/enrol_test_support.h"
#include "keys/request_container_name.h"
#include "sign/sign_test_support.h"

namespace {

using namespace kv::test;

const std::string kChineseName = "王小明 Wang";  // Big5 has every character

TEST_F(EnrolTest, FreshEngineAndProviderChoice) {
  CCertRequestManager& m = engine_.Requests();
  EXPECT_EQ(2048, m.m_keyBits);
  EXPECT_EQ(std::string(kRequestProviderName), m.m_providerName);
  EXPECT_EQ(static_cast<DWORD>(PROV_RSA_FULL), m.m_providerType);
  EXPECT_EQ(1, std::count(m.m_providerNames.begin(), m.m_providerNames.end(), std::string(kRequestProviderName)));
  // Only RSA providers are listed, each once.
  EXPECT_EQ(m.m_providerNames.size(), std::set<std::string>(m.m_providerNames.begin(), m.m_providerNames.end()).size());
  for (const std::string& name : m.m_providerNames) EXPECT_EQ(std::string::npos, name.find("DSS")) << name;

  for (const char* asked : {"Microsoft Base Cryptographic Provider v1.0",
                            "Microsoft Enhanced RSA and AES Cryptographic Provider", "anything at all"}) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, engine_.SetProviderName(Utf8Bstr(asked))) << asked;
    EXPECT_EQ(0u, engine_.PlatformError());
    EXPECT_EQ(std::string(kRequestProviderName), m.m_providerName);
  }
  EXPECT_EQ(ERR_BAD_PARAM, engine_.SetProviderName(Utf8Bstr("")));

  // Without the provider on the system the old choice stays.
  m.m_providerNames.clear();
  m.m_providerName = "kept";
  EXPECT_EQ(ERR_CSP_NAME_MISSING, engine_.SetProviderName(Utf8Bstr("x")));
  EXPECT_EQ("kept", m.m_providerName);

  engine_.OverrideProtectedMode(true);
  EXPECT_EQ(ERR_BAD_PARAM, engine_.SetProviderName(Utf8Bstr("")));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine_.SetProviderName(Utf8Bstr("x")));
}

TEST_F(EnrolTest, ContainerNamesAreRandomAndWellFormed) {
  const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    std::string name;
    DWORD error = 1;
    ASSERT_TRUE(kv::keys::NewContainerName(&name, &error));
    EXPECT_EQ(0u, error);
    EXPECT_TRUE(std::regex_match(name, form)) << name;
    seen.insert(name);
  }
  // Names made in the same instant differ.
  EXPECT_EQ(200u, seen.size());
}

TEST_F(EnrolTest, SingleRequestVerifiesWithOpenSsl) {
  std::string request = Request(kChineseName, 2048, 0);
  ASSERT_FALSE(request.empty());
  EXPECT_EQ(std::string::npos, request.find_first_of("\r\n-"));
  std::string text;
  ASSERT_TRUE(VerifyRequest(folder_.path(), request, &text)) << text;
  EXPECT_NE(std::string::npos, text.find("sha1WithRSAEncryption")) << text;
  EXPECT_NE(std::string::npos, text.find("CN=" + kChineseName)) << text;
  EXPECT_NE(std::string::npos, text.find("(2048 bit)")) << text;
  std::string asn1;
  RunCommand("echo " + request + " | openssl base64 -d -A | openssl asn1parse -inform DER", &asn1);
  EXPECT_NE(std::string::npos, asn1.find("BMPSTRING")) << asn1;

  EXPECT_EQ(request, TakeText(engine_.GetCsrForSign()));
  EXPECT_EQ("", TakeText(engine_.GetCsrForEncrypt()));

  // One record, an exchange key, archivable only: the stored key cannot be
  // exported once its generating handle is gone.
  std::vector<std::string> records = RecordNames();
  ASSERT_EQ(1u, records.size());
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, records[0].c_str(), kRequestProviderName, PROV_RSA_FULL, 0));
  HCRYPTKEY key = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
  EXPECT_EQ(static_cast<DWORD>(NTE_NO_KEY), GetLastError());
  ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
  DWORD size = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEY_STATE), GetLastError());
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}

TEST_F(EnrolTest, RecordValuesAndEncodings) {
  std::string request = Request(kChineseName, 1024, 1);
  std::vector<std::string> records = RecordNames();
  ASSERT_EQ(1u, records.size());
  const std::string& r = records[0];

  RegValue provider = RecordValue(r, "ProviderName");
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), provider.type);
  EXPECT_EQ(std::string(kRequestProviderName), provider.Text());  // no terminating zero
  RegValue type = RecordValue(r, "ProviderType");
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type.type);
  EXPECT_EQ(1u, type.Dword());
  EXPECT_EQ(1u, RecordValue(r, "KeySpec").Dword());
  RegValue name = RecordValue(r, "CommonName");
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), name.type);
  EXPECT_EQ(Ansi(kChineseName.c_str()), name.Text());
  RegValue date = RecordValue(r, "DateTime");
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), date.type);
  EXPECT_TRUE(std::regex_match(date.Text(), std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)"))) << date.Text();

  // PublicKey: the provider's PUBLICKEYBLOB, which is the exported key of
  // the container, and whose modulus is the request's.
  RegValue blob = RecordValue(r, "PublicKey");
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), blob.type);
  ASSERT_EQ(8u + 12u + 128u, blob.data.size());
  EXPECT_EQ(PUBLICKEYBLOB, blob.data[0]);
  EXPECT_EQ(0, std::memcmp(blob.data.data() + 8, "RSA1", 4));
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, r.c_str(), kRequestProviderName, PROV_RSA_FULL, 0));
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
  std::vector<BYTE> exported(blob.data.size());
  DWORD size = static_cast<DWORD>(exported.size());
  ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, exported.data(), &size));
  EXPECT_EQ(blob.data, exported);
  // genKeyFlags 1: the stored key stays exportable.
  size = 0;
  EXPECT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}

TEST_F(EnrolTest, PairMakesSignatureThenExchangeKey) {
  SetLastError(0xdeadbeef);
  ASSERT_EQ(0, engine_.CreatePKCS10Pair(Utf8Bstr("Pair User"), 1024, 7));
  EXPECT_EQ(0u, engine_.PlatformError());
  std::string forSign = TakeText(engine_.GetCsrForSign());
  std::string forEncrypt = TakeText(engine_.GetCsrForEncrypt());
  ASSERT_FALSE(forSign.empty());
  ASSERT_FALSE(forEncrypt.empty());
  EXPECT_NE(forSign, forEncrypt);
  std::string text;
  EXPECT_TRUE(VerifyRequest(folder_.path(), forSign, &text)) << text;
  EXPECT_TRUE(VerifyRequest(folder_.path(), forEncrypt, &text)) << text;

  std::vector<std::string> records = RecordNames();
  ASSERT_EQ(2u, records.size());
  std::set<DWORD> specs;
  for (const std::string& r : records) specs.insert(RecordValue(r, "KeySpec").Dword());
  EXPECT_EQ((std::set<DWORD>{1, 2}), specs);
  EXPECT_EQ(RecordValue(records[0], "DateTime").data, RecordValue(records[1], "DateTime").data);
  // Each slot holds its own key; flags 7 count as 1 (exportable).
  for (const std::string& r : records) {
    DWORD spec = RecordValue(r, "KeySpec").Dword();
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, r.c_str(), kRequestProviderName, PROV_RSA_FULL, 0));
    HCRYPTKEY key = 0;
    EXPECT_TRUE(CryptGetUserKey(prov, spec, &key));
    DWORD size = 0;
    EXPECT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
  }

  // A later single request empties the pair's texts first.
  std::string single = Request("Single");
  EXPECT_EQ(single, TakeText(engine_.GetCsrForSign()));
  EXPECT_EQ("", TakeText(engine_.GetCsrForEncrypt()));
}

TEST_F(EnrolTest, ArgumentFailures) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ("", TakeText(engine_.CreatePKCS10(Utf8Bstr("Name"), 1536, 0)));
  EXPECT_EQ(ERR_KEY_LENGTH, engine_.Code());
  EXPECT_EQ(0u, engine_.PlatformError());
  EXPECT_EQ(ERR_KEY_LENGTH, engine_.CreatePKCS10Pair(Utf8Bstr("Name"), 0, 0));
  EXPECT_EQ(2048, engine_.Requests().m_keyBits);  // unchanged
  EXPECT_TRUE(RecordNames().empty());

  EXPECT_EQ("", TakeText(engine_.CreatePKCS10(Utf8Bstr(""), 1024, 0)));
  EXPECT_EQ(ERR_BAD_PARAM, engine_.Code());
  EXPECT_EQ(ERR_BAD_PARAM, engine_.CreatePKCS10Pair(nullptr, 1024, 0));

  engine_.OverrideProtectedMode(true);
  EXPECT_EQ("", TakeText(engine_.CreatePKCS10(Utf8Bstr("Name"), 1024, 0)));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine_.Code());
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine_.CreatePKCS10Pair(Utf8Bstr("Name"), 1024, 0));
  EXPECT_TRUE(RecordNames().empty());
}

TEST_F(EnrolTest, ProviderFailures) {
  CCertRequestManager& m = engine_.Requests();
  m.m_providerName.clear();
  EXPECT_EQ("", TakeText(engine_.CreatePKCS10(Utf8Bstr("Name"), 1024, 0)));
  EXPECT_EQ(ERR_CSP_NAME_MISSING, engine_.Code());
  EXPECT_EQ(0u, engine_.PlatformError());

  // A provider the system does not have.
  m.m_providerName = "Contoso Token CSP";
  EXPECT_EQ("", TakeText(engine_.CreatePKCS10(Utf8Bstr("Name"), 1024, 0)));
  EXPECT_EQ(ERR_CSP_UNSUPPORTED, engine_.Code());
  EXPECT_EQ(static_cast<DWORD>(NTE_KEYSET_NOT_DEF), engine_.PlatformError());

  // A card provider without a reader.
  m.m_providerName = "Microsoft Base Smart Card Crypto Provider";
  HCRYPTPROV probe = 0;
  ASSERT_FALSE(CryptAcquireContextA(&probe, "x", m.m_providerName.c_str(), PROV_RSA_FULL, CRYPT_NEWKEYSET));
  DWORD cardError = GetLastError();
  EXPECT_EQ(ERR_CSP_ACQUIRE, engine_.CreatePKCS10Pair(Utf8Bstr("Name"), 1024, 0));
  EXPECT_EQ(cardError, engine_.PlatformError());
  EXPECT_EQ("", TakeText(engine_.GetCsrForSign()));

  // A type the provider is not.
  m.m_providerName = kRequestProviderName;
  m.m_providerType = PROV_RSA_AES;
  EXPECT_EQ(ERR_CSP_ACQUIRE, engine_.CreatePKCS10Pair(Utf8Bstr("Name"), 1024, 0));
  EXPECT_EQ(static_cast<DWORD>(NTE_PROV_TYPE_NO_MATCH), engine_.PlatformError());
  EXPECT_TRUE(RecordNames().empty());
}

TEST_F(EnrolTest, UnwritableRegistryIsAccessDenied) {
  // A home that is a file: the user's registry cannot be written.
  std::string blocked = folder_.File("not-a-folder");
  ScopedEnv home("KORVESSA_HOME", (blocked + "/home").c_str());
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyA(HKEY_CURRENT_USER, "Software\\VELK", &key);
  ASSERT_NE(ERROR_SUCCESS, status);
  SetLastError(0xdeadbeef);
  EXPECT_EQ("", TakeText(engine_.CreatePKCS10(Utf8Bstr("Name"), 1024, 0)));
  EXPECT_EQ(ERR_ACCESS_DENIED, engine_.Code());
  EXPECT_EQ(static_cast<DWORD>(status), engine_.PlatformError());
  EXPECT_EQ(ERR_ACCESS_DENIED, engine_.AcceptPKCS7(Utf8Bstr("MIIB")));
  EXPECT_EQ(static_cast<DWORD>(status), engine_.PlatformError());
}

}  // namespace
