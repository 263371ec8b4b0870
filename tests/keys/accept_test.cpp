// AcceptPKCS7: the enrolment round trip with an OpenSSL CA (bundle, bare
// certificate, PEM; signature and exchange keys), what lands in "ROOT",
// "CA" and "MY", signing with the installed certificate, and the failure
// codes with their platform errors.
#include <gtest/gtest.h>

#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "cert/cert_info.h"
#include "host/caller_origin.h"
#include "kvwin/desktop.h"
#include "ui/root_store_dialog.h"
#include "codec/byte_buffer.h"
#include "keys/enrol_test_support.h"
#include "sign/sign_test_support.h"

namespace {

using namespace kv::test;

// Certificates of one system store, as (DER, friendly name, container).
struct StoredEntry {
  std::vector<BYTE> der;
  std::u16string friendly;
  std::u16string container;
  DWORD keySpec = 0;
};

std::vector<StoredEntry> StoreEntries(const char* name) {
  std::vector<StoredEntry> out;
  HCERTSTORE store = CertOpenSystemStoreA(0, name);
  if (!store) return out;
  PCCERT_CONTEXT ctx = nullptr;
  while ((ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) {
    StoredEntry e;
    e.der.assign(ctx->pbCertEncoded, ctx->pbCertEncoded + ctx->cbCertEncoded);
    DWORD size = 0;
    if (CertGetCertificateContextProperty(ctx, CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size)) {
      std::vector<BYTE> data(size);
      CertGetCertificateContextProperty(ctx, CERT_FRIENDLY_NAME_PROP_ID, data.data(), &size);
      e.friendly.assign(reinterpret_cast<const char16_t*>(data.data()));
    }
    if (CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      std::vector<BYTE> data(size);
      CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, data.data(), &size);
      auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(data.data());
      e.container.assign(reinterpret_cast<const char16_t*>(info->pwszContainerName));
      e.keySpec = info->dwKeySpec;
    }
    out.push_back(std::move(e));
  }
  CertCloseStore(store, 0);
  return out;
}

std::vector<BYTE> Der(const TestCert& cert) { return cert.der(); }

void AddToStore(const char* name, const TestCert& cert) {
  HCERTSTORE store = CertOpenSystemStoreA(0, name);
  ASSERT_NE(nullptr, store);
  ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, cert.data(), cert.size(),
                                                CERT_STORE_ADD_ALWAYS, nullptr));
  CertCloseStore(store, 0);
}

std::string ToBase64(const std::vector<BYTE>& bytes) {
  CByteBuffer buffer;
  EXPECT_TRUE(buffer.EncodeBase64(bytes.data(), static_cast<int32_t>(bytes.size())));
  return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
}

class AcceptTest : public SigningTest {
 protected:
  AcceptTest() : ca_(folder_.path()) {}
  std::string NewRequest(const std::string& cn, LONG flags = 0) {
    std::string request = TakeText(engine_.CreatePKCS10(Utf8Bstr(cn), 1024, flags));
    EXPECT_EQ(ERR_SUCCESS, engine_.Code());
    return request;
  }
  LONG Accept(const std::string& text) { return engine_.AcceptPKCS7(Utf8Bstr(text)); }

  OpenSslCa ca_;
};

TEST_F(AcceptTest, BundleRoundTripInstallsChainAndSigns) {
  const std::string cn = "陳大文";
  std::string request = NewRequest(cn);
  std::string issued = ca_.Issue(request);
  ASSERT_FALSE(issued.empty());
  std::string bundle = ca_.Bundle({ca_.root().Pem(), ca_.intermediate().Pem(), issued});
  SetLastError(0xdeadbeef);
  ASSERT_EQ(0, Accept(bundle));
  EXPECT_EQ(0u, engine_.PlatformError());

  std::vector<StoredEntry> roots = StoreEntries("ROOT"), cas = StoreEntries("CA"), my = StoreEntries("MY");
  ASSERT_EQ(1u, roots.size());
  EXPECT_EQ(Der(ca_.root()), roots[0].der);
  ASSERT_EQ(1u, cas.size());
  EXPECT_EQ(Der(ca_.intermediate()), cas[0].der);
  ASSERT_EQ(1u, my.size());
  EXPECT_EQ(FromBase64(PemToBase64(issued)), my[0].der);
  EXPECT_EQ(u"陳大文", my[0].friendly);
  std::vector<std::string> records = RecordNames();
  ASSERT_EQ(1u, records.size());  // acceptance keeps the record
  EXPECT_EQ(std::u16string(records[0].begin(), records[0].end()), my[0].container);
  EXPECT_EQ(static_cast<DWORD>(AT_KEYEXCHANGE), my[0].keySpec);

  // The personal store lists it and signing uses it, with the chain.
  EXPECT_EQ(1, engine_.GetIECertCount());
  EXPECT_EQ(Ansi(cn.c_str()), TakeText(engine_.GetIECertCommonName(1)));
  ASSERT_EQ(0, engine_.SelectSigner(Utf8Bstr("S_CN=" + cn), 0x100, 0));
  std::string p7 = TakeText(engine_.SignPkcs7(Utf8Bstr("Buy 2330 x 1"), 0x200));
  ASSERT_EQ(0, engine_.Code()) << engine_.PlatformError();
  CmsResult verified = VerifyCms(p7, ca_.root());
  EXPECT_TRUE(verified.verified) << verified.error;

  // Accepting again leaves one copy: the store keeps certificates by hash.
  ASSERT_EQ(0, Accept(bundle));
  EXPECT_EQ(1u, StoreEntries("MY").size());
  EXPECT_EQ(1u, StoreEntries("ROOT").size());
  EXPECT_EQ(1u, StoreEntries("CA").size());
}

TEST_F(AcceptTest, BareCertificateAndPemAndSignatureKeys) {
  ASSERT_EQ(0, engine_.CreatePKCS10Pair(Utf8Bstr("Pair Holder"), 1024, 0));
  std::string forSign = TakeText(engine_.GetCsrForSign());
  std::string forEncrypt = TakeText(engine_.GetCsrForEncrypt());
  std::string signCert = ca_.Issue(forSign);
  std::string encryptCert = ca_.Issue(forEncrypt, "keyEncipherment,dataEncipherment");
  // A bare certificate in Base64 whose issuer is unknown cannot be checked.
  EXPECT_EQ(ERR_CERT_ISSUER_NOT_FOUND, Accept(PemToBase64(signCert)));
  EXPECT_EQ(static_cast<DWORD>(CRYPT_E_NOT_FOUND), engine_.PlatformError());
  EXPECT_TRUE(StoreEntries("MY").empty());
  // With its issuer in "CA": no authority work.
  AddToStore("CA", ca_.intermediate());
  ASSERT_EQ(0, Accept(PemToBase64(signCert)));
  EXPECT_TRUE(StoreEntries("ROOT").empty());
  EXPECT_EQ(1u, StoreEntries("CA").size());
  // PEM armour.
  ASSERT_EQ(0, Accept(encryptCert));
  std::vector<StoredEntry> my = StoreEntries("MY");
  ASSERT_EQ(2u, my.size());
  // The signature key matched its record although the blob header differs.
  std::vector<DWORD> specs;
  for (const StoredEntry& e : my) specs.push_back(e.keySpec);
  EXPECT_NE(std::find(specs.begin(), specs.end(), static_cast<DWORD>(AT_SIGNATURE)), specs.end());
  EXPECT_NE(std::find(specs.begin(), specs.end(), static_cast<DWORD>(AT_KEYEXCHANGE)), specs.end());
  EXPECT_EQ(2u, RecordNames().size());
}

TEST_F(AcceptTest, FailureCodes) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(ERR_BAD_PARAM, Accept(""));
  EXPECT_EQ(0u, engine_.PlatformError());
  EXPECT_EQ(ERR_BASE64, Accept("-----BEGIN CERTIFICATE-----\nMIIB"));
  EXPECT_EQ(0u, engine_.PlatformError());

  // Only authorities: nothing to install for the user.
  std::string authorities = ca_.Bundle({ca_.root().Pem(), ca_.intermediate().Pem()});
  EXPECT_EQ(ERR_NO_KEY, Accept(authorities));
  EXPECT_TRUE(StoreEntries("ROOT").empty());  // a refused acceptance stores nothing

  // A message without certificates, and bytes that are no certificate.
  std::string dataMessage;
  RunCommand("printf abc | openssl cms -data_create -outform DER | openssl base64 -A", &dataMessage);
  EXPECT_EQ(ERR_CERT_FORMAT, Accept(dataMessage));
  EXPECT_EQ(static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE), engine_.PlatformError());
  const BYTE junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
  SetLastError(0xdeadbeef);
  EXPECT_EQ(nullptr, CertCreateCertificateContext(X509_ASN_ENCODING, junk, sizeof junk));
  DWORD junkError = GetLastError();
  EXPECT_EQ(ERR_CERT_FORMAT, Accept("MAMCAQE="));
  EXPECT_EQ(junkError, engine_.PlatformError());

  // A certificate for no pending key, in a bundle with its authorities:
  // first before any request was made, then with a record of another key.
  // Neither stores anything.
  CertPtr stranger = MakeEndEntity("Stranger", ca_.intermediate());
  std::string strangerText = ca_.Bundle({ca_.root().Pem(), ca_.intermediate().Pem(), stranger->Pem()});
  EXPECT_EQ(ERR_CERT_NOT_FOUND, Accept(strangerText));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), engine_.PlatformError());
  NewRequest("Someone Else");
  EXPECT_EQ(ERR_CERT_NOT_FOUND, Accept(strangerText));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), engine_.PlatformError());
  for (const char* store : {"MY", "CA", "ROOT"}) EXPECT_TRUE(StoreEntries(store).empty()) << store;

  // A record whose provider cannot be acquired.
  std::string request = NewRequest("Lost Provider");
  std::string issued = ca_.Issue(request);
  for (const std::string& r : RecordNames()) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kRecordsKey) + "\\" + r).c_str(), 0,
                                           KEY_ALL_ACCESS, &key));
    const char provider[] = "Contoso Token CSP";
    RegSetValueExA(key, "ProviderName", 0, REG_SZ, reinterpret_cast<const BYTE*>(provider), sizeof provider);
    RegCloseKey(key);
  }
  EXPECT_EQ(ERR_CSP_ACQUIRE, Accept(ca_.Bundle({ca_.root().Pem(), ca_.intermediate().Pem(), issued})));
  EXPECT_EQ(static_cast<DWORD>(NTE_KEYSET_NOT_DEF), engine_.PlatformError());
  EXPECT_TRUE(StoreEntries("ROOT").empty());

  engine_.OverrideProtectedMode(true);
  EXPECT_EQ(ERR_BAD_PARAM, Accept(""));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, Accept(issued));
}

// Any change to the issued certificate inside its bundle (its name, key,
// validity or signature) must keep it out of the stores: its signature no
// longer verifies under the issuer's key, or it matches no record, or it no
// longer decodes.
TEST_F(AcceptTest, DamagedCertificateInstallsNothing) {
  std::string issued = ca_.Issue(NewRequest("Flip Holder"));
  std::vector<BYTE> bundle = FromBase64(ca_.Bundle({ca_.root().Pem(), ca_.intermediate().Pem(), issued}));
  std::vector<BYTE> cert = FromBase64(PemToBase64(issued));
  auto at = std::search(bundle.begin(), bundle.end(), cert.begin(), cert.end());
  ASSERT_NE(bundle.end(), at);
  const size_t start = static_cast<size_t>(at - bundle.begin());
  std::vector<size_t> offsets = {cert.size() - 1};  // the signature's last byte
  for (size_t offset = 4; offset < cert.size(); offset += 23) offsets.push_back(offset);
  for (size_t offset : offsets) {
    for (BYTE bit : {0x01, 0x80}) {
      std::vector<BYTE> damaged = bundle;
      damaged[start + offset] ^= bit;
      EXPECT_NE(0, Accept(ToBase64(damaged))) << "byte " << offset << " bit " << int(bit);
    }
  }
  for (const char* store : {"MY", "CA", "ROOT"}) EXPECT_TRUE(StoreEntries(store).empty()) << store;

  // The signature's last byte alone: the bad signature is named as such.
  std::vector<BYTE> forged = bundle;
  forged[start + cert.size() - 1] ^= 0x01;
  EXPECT_EQ(ERR_CERT_BAD_SIGNATURE, Accept(ToBase64(forged)));
  EXPECT_EQ(static_cast<DWORD>(NTE_BAD_SIGNATURE), engine_.PlatformError());
  // The undamaged bundle still goes in.
  EXPECT_EQ(0, Accept(ToBase64(bundle)));
  EXPECT_EQ(1u, StoreEntries("MY").size());
}

// A new trusted root asks the user first, naming the certificate and the
// page's origin; a refusal keeps it out of "ROOT" and fails the addition as
// Windows does, while the user certificate is installed all the same.
TEST_F(AcceptTest, NewRootAsksTheUser) {
  const kv::platform::RootStorePrompt testAnswer = kv::platform::SwapRootStorePrompt(&kv::ui::AskRootStoreTrust);
  std::string bundle = ca_.Bundle({ca_.root().Pem(), ca_.intermediate().Pem(), ca_.Issue(NewRequest("Root Asker"))});
  {
    // A page's acceptance is confirmed first (210), then the root is asked about.
    ScriptedDialogs run(R"([{"dialog": 210, "press": 1}, {"dialog": 209, "press": 2}])");
    kv::ScopedCallerOrigin page("https://trade.example.com.tw:443");
    EXPECT_EQ(0, Accept(bundle));
    std::vector<kv::json::Value> shown = run.Events("dialog");
    ASSERT_EQ(2u, shown.size());
    const kv::json::Value& rootQuestion = shown[1];
    EXPECT_NE(std::string::npos, rootQuestion.Find("title")->Utf8().find("https://trade.example.com.tw:443"));
    std::vector<std::string> texts;
    for (const auto& control : rootQuestion.Find("controls")->items) texts.push_back(control.Find("text")->Utf8());
    for (const std::string& expected : {std::string("Enrol Test Root"), ca_.root().Sha1Hex(),
                                        std::string("https://trade.example.com.tw:443")})
      EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), expected)) << expected;
  }
  EXPECT_TRUE(StoreEntries("ROOT").empty());
  EXPECT_EQ(1u, StoreEntries("CA").size());
  EXPECT_EQ(1u, StoreEntries("MY").size());

  // The same refusal to a direct addition, and no way to ask at all.
  HCERTSTORE root = CertOpenSystemStoreA(0, "ROOT");
  for (bool canAsk : {true, false}) {
    ScriptedDialogs run(R"([{"dialog": 209, "press": 2}])");
    std::unique_ptr<ScopedEnv> noScript(canAsk ? nullptr : new ScopedEnv("KORVESSA_DIALOGS", nullptr));
    SetLastError(0);
    EXPECT_FALSE(CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, ca_.root().data(), ca_.root().size(),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_CANCELLED)), GetLastError());
  }
  {
    ScriptedDialogs run(R"([{"dialog": 209, "press": 1}])");
    EXPECT_EQ(0, Accept(bundle));
  }
  ASSERT_EQ(1u, StoreEntries("ROOT").size());
  // A root already trusted is not asked about again.
  ScriptedDialogs none("[]");
  EXPECT_TRUE(CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, ca_.root().data(), ca_.root().size(),
                                               CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
  CertCloseStore(root, 0);
  kv::platform::SwapRootStorePrompt(testAnswer);
}

}  // namespace
