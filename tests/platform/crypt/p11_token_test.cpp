// The smart-card provider on a SoftHSM token, driven through the command-line
// host (each process loads the token's module afresh, as a program does):
// the token's certificate in the personal store, signatures made on the token
// and checked by OpenSSL, PIN failures, a token pulled out, two processes at
// once, and a certificate accepted onto the token.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/pem.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "keys/request_records.h"
#include "kvcommon/json.h"
#include "sign/sign_test_support.h"

namespace kv::test {
namespace {

constexpr char kModule[] = "/usr/lib/softhsm/libsofthsm2.so";
constexpr char kPin[] = "73915246";  // distinctive: looked for in every file afterwards
constexpr char kLabel[] = "Test Token";
constexpr char kProvider[] = "PKCS #11 Smart Card Provider";
constexpr LONG kAnsiBase64 = 0x900;
constexpr LONG kSha256 = 0x10000;
constexpr DWORD kRemovedCard = 0x80100069, kWrongPin = 0x8010006B, kPinBlocked = 0x8010006C,
                kCancelled = 0x8010006E;

struct Result {
  std::string text;  // a string result
  long long value = 0;
  int error = 0;
  DWORD capiError = 0;
};

std::string PinAnswer(const char* pin = kPin) {
  return std::string(R"({"dialog": 211, "set": {"342": ")") + pin + R"("}, "press": 1})";
}

class TokenTest : public SigningTest {
 protected:
  TokenTest()
      : conf_(folder_.path() + "/softhsm2.conf"),
        softhsm_("SOFTHSM2_CONF", conf_.c_str()),
        modules_("KORVESSA_PKCS11_MODULES", kModule) {}

  void SetUp() override {
    SigningTest::SetUp();
    struct stat st;
    if (stat(kModule, &st) != 0 || RunCommand("command -v softhsm2-util pkcs11-tool >/dev/null") != 0) {
      GTEST_SKIP() << "softhsm2 and opensc are not installed";
    }
    tokens_ = folder_.path() + "/tokens";
    mkdir(tokens_.c_str(), 0700);
    WriteFile(conf_, "directories.tokendir = " + tokens_ + "\nobjectstore.backend = file\nlog.level = ERROR\n");
    ASSERT_EQ(0, Tool(std::string("softhsm2-util --init-token --free --label '") + kLabel + "' --so-pin 5678 --pin " +
                      kPin));
    CertSpec spec;
    spec.subject = SimpleName("Token User");
    spec.keyUsage = 0xC0;
    spec.keyBits = 2048;
    user_ = IssueCert(spec, root_.get());
    ASSERT_EQ(0, WriteToToken(*user_, "01"));
    // The chain ends at a root the user trusts.
    HCERTSTORE rootStore = CertOpenSystemStoreA(0, "ROOT");
    ASSERT_TRUE(CertAddEncodedCertificateToStore(rootStore, X509_ASN_ENCODING, root_->data(), root_->size(),
                                                 CERT_STORE_ADD_ALWAYS, nullptr));
    CertCloseStore(rootStore, 0);
  }

  int Tool(const std::string& command, std::string* out = nullptr) {
    return RunCommand(command + " 2>&1", out);
  }
  std::string P11(const std::string& args) {
    return std::string("pkcs11-tool --module ") + kModule + " --token-label '" + kLabel + "' --login --pin " + kPin +
           " " + args;
  }

  int WriteToToken(const TestCert& cert, const std::string& id) {
    BIO* bio = BIO_new_file((folder_.path() + "/key.pem").c_str(), "w");
    PEM_write_bio_PrivateKey(bio, cert.key(), nullptr, nullptr, 0, nullptr, nullptr);
    BIO_free(bio);
    folder_.File("cert.der", std::string(cert.der().begin(), cert.der().end()));
    const std::string dir = folder_.path();
    return Tool("openssl pkey -in '" + dir + "/key.pem' -outform DER -out '" + dir + "/key.der'") |
           Tool(P11("--write-object '" + dir + "/key.der' --type privkey --id " + id + " >/dev/null")) |
           Tool(P11("--write-object '" + dir + "/cert.der' --type cert --id " + id + " >/dev/null"));
  }

  // The token leaves its reader (SoftHSM sees its folder go) and comes back.
  std::string PullCommand() const {
    return "mkdir -p '" + tokens_ + ".out' && mv '" + tokens_ + "'/* '" + tokens_ + ".out/'";
  }
  void Pull() { ASSERT_EQ(0, RunCommand(PullCommand())); }
  void PutBack() { ASSERT_EQ(0, RunCommand("mv '" + tokens_ + ".out'/* '" + tokens_ + "/'")); }

  // Sets CKF_USER_PIN_LOCKED in the token's flags (SoftHSM's object file
  // keeps them as a big-endian CK_ULONG attribute 0x8000534B).
  void LockPin() {
    std::string path;
    ASSERT_EQ(0, RunCommand("ls '" + tokens_ + "'/*/token.object | head -1 | tr -d '\\n'", &path));
    std::string file = ReadFile(path);
    const std::string tag("\x00\x00\x00\x00\x80\x00\x53\x4b\x00\x00\x00\x00\x00\x00\x00\x02", 16);
    size_t at = file.find(tag);
    ASSERT_NE(std::string::npos, at);
    file[at + tag.size() + 5] |= 0x04;  // 0x00040000
    WriteFile(path, file);
  }

  // A pending record for the key in `container`, as a request leaves it.
  void WriteRecord(const std::string& container, const TestCert& cert) {
    PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING, cert.data(), cert.size());
    ASSERT_NE(nullptr, ctx);
    const CRYPT_BIT_BLOB& bits = ctx->pCertInfo->SubjectPublicKeyInfo.PublicKey;
    kv::keys::PendingRequest record;
    DWORD size = 0;
    ASSERT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, bits.pbData, bits.cbData, 0, nullptr, &size));
    record.publicKey.resize(size);
    ASSERT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, bits.pbData, bits.cbData, 0,
                                  record.publicKey.data(), &size));
    CertFreeCertificateContext(ctx);
    record.containerName = container;
    record.providerName = kProvider;
    record.providerType = PROV_RSA_FULL;
    record.keySpec = AT_KEYEXCHANGE;
    record.dateTime = kv::keys::RecordDateTime();
    record.commonName = "Issued On Token";
    DWORD error = 0;
    ASSERT_TRUE(kv::keys::WritePendingRequest("Software\\VELK\\Korvessa", record, &error)) << error;
  }

  // A certificates-only PKCS#7 of `certs`, in Base64.
  std::string Bundle(const std::vector<const TestCert*>& certs) {
    std::string pem;
    for (const TestCert* c : certs) pem += c->Pem();
    const std::string file = folder_.File("bundle.pem", pem);
    std::string out;
    RunCommand("openssl crl2pkcs7 -nocrl -certfile '" + file + "' -outform DER | openssl base64 -A", &out);
    return out;
  }

  // Runs one host process on `calls` ({"call": ..., "args": [...]} lines)
  // with the scripted dialog answers `answers` (a JSON array).
  std::vector<Result> Batch(const std::vector<std::string>& calls, const std::string& answers = "[]",
                            const std::string& tag = "run") {
    std::string in;
    for (const std::string& call : calls) in += call + "\n";
    const std::string script = folder_.File(tag + ".answers", answers);
    const std::string input = folder_.File(tag + ".in", in);
    log_ = folder_.path() + "/" + tag + ".log";
    std::remove(log_.c_str());
    std::string out;
    RunCommand("KORVESSA_DIALOGS='" + script + "' KORVESSA_DIALOG_LOG='" + log_ + "' '" + KV_HOST_PATH +
                   "' --batch <'" + input + "'",
               &out);
    return Parse(out);
  }

  static std::vector<Result> Parse(const std::string& out) {
    std::vector<kv::json::Value> values;
    std::string error;
    EXPECT_TRUE(kv::json::ParseSequence(out, &values, &error)) << error << "\n" << out;
    std::vector<Result> results;
    for (const kv::json::Value& v : values) {
      Result r;
      const kv::json::Value* result = v.Find("result");
      if (result && result->Is(kv::json::Value::Kind::kString)) r.text = result->Utf8();
      if (result && result->isInteger) r.value = result->integer;
      if (const kv::json::Value* e = v.Find("error")) r.error = static_cast<int>(e->integer);
      if (const kv::json::Value* c = v.Find("capiError")) r.capiError = static_cast<DWORD>(c->integer);
      results.push_back(r);
    }
    return results;
  }

  static std::string Call(const std::string& name, const std::string& args = "") {
    return R"({"call": ")" + name + R"(", "args": [)" + args + "]}";
  }
  static std::string Select() { return Call("SelectSigner", R"("S_CN=Token User", 256, 0)"); }
  static std::string SignPkcs1(LONG flags) { return Call("SignPkcs1", R"("hello", )" + std::to_string(flags)); }

  // How many times the PIN dialog was shown in the last run.
  size_t PinDialogs() const {
    std::string log = ReadFile(log_);
    size_t count = 0;
    for (size_t at = 0; (at = log.find("\"event\":\"dialog\",\"dialog\":211", at)) != std::string::npos; ++at) ++count;
    return count;
  }

  bool VerifiesAsUser(const std::string& base64, const EVP_MD* md) const {
    std::vector<uint8_t> content = {'h', 'e', 'l', 'l', 'o'};
    return VerifyDigestSignature(user_->key(), md, Digest(md, content), FromBase64(base64));
  }

  std::string conf_;
  ScopedEnv softhsm_, modules_;
  std::string tokens_, log_;
  CertPtr user_;
};

// Files under `dir` (recursively) that contain `needle`.
std::vector<std::string> FilesHolding(const std::string& dir, const std::string& needle) {
  std::vector<std::string> found;
  DIR* d = opendir(dir.c_str());
  if (!d) return found;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      for (const std::string& f : FilesHolding(path, needle)) found.push_back(f);
    } else if (S_ISREG(st.st_mode) && ReadFile(path).find(needle) != std::string::npos) {
      found.push_back(path);
    }
  }
  closedir(d);
  return found;
}

// In this process no module is loaded (see ScopedHome): the provider's
// refusals that need no token.
TEST_F(HomeTest, TokenProviderRefusesWhatACardCannotDo) {
  const struct {
    const char* container;
    DWORD flags;
    DWORD error;
  } cases[] = {
      {"Test Token/1/01", CRYPT_NEWKEYSET, static_cast<DWORD>(NTE_PERM)},  // keys are made by the token's tools
      {"Test Token/1/01", CRYPT_DELETEKEYSET, static_cast<DWORD>(NTE_PERM)},
      {"Test Token/1/01", 0, 0x8010002E},                           // no reader
      {"not a token's", 0, static_cast<DWORD>(NTE_BAD_KEYSET)},
      {"", 0, static_cast<DWORD>(NTE_BAD_KEYSET)},
  };
  for (const auto& c : cases) {
    HCRYPTPROV prov = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptAcquireContextA(&prov, c.container, kProvider, PROV_RSA_FULL, c.flags)) << c.container;
    EXPECT_EQ(c.error, GetLastError()) << c.container << " " << c.flags;
  }
}

TEST_F(TokenTest, TokenCertificateSignsOnTheToken) {
  std::vector<Result> r = Batch({Call("GetIECertCount"), Call("GetIECertSubject", "1"), Select(),
                                 SignPkcs1(kAnsiBase64), SignPkcs1(kAnsiBase64 | kSha256),
                                 Call("SignPkcs7", R"("hello", )" + std::to_string(0x2200 | kSha256)),
                                 Call("DeleteIECert", "1"), Call("GetIECertCount"),
                                 Call("ExportPfxFromIE", R"("S_CN=Token User", ")" + folder_.path() +
                                                             R"(/out.pfx", "abcd1234", 0, 0)"),
                                 Call("ExportMobileFromIE", R"("S_CN=Token User", "abcd1234", 0, 0)")},
                                "[" + PinAnswer() + "]");
  ASSERT_EQ(10u, r.size());
  EXPECT_EQ(1, r[0].value);
  EXPECT_NE(std::string::npos, r[1].text.find("Token User"));
  EXPECT_EQ(0, r[2].value);
  for (int i : {3, 4, 5}) EXPECT_EQ(0, r[i].error) << i;
  EXPECT_TRUE(VerifiesAsUser(r[3].text, EVP_sha1()));
  EXPECT_TRUE(VerifiesAsUser(r[4].text, EVP_sha256()));
  // Attached, with attributes and the chain up to the root.
  CmsResult cms = VerifyCms(r[5].text, *root_);
  EXPECT_TRUE(cms.verified) << cms.error;
  EXPECT_EQ(Utf16Bytes("hello"), cms.content);
  EXPECT_EQ(1u, CountBytes(FromBase64(r[5].text), root_->der()));
  // Asked once for the token session, naming the token.
  EXPECT_EQ(1u, PinDialogs());
  EXPECT_NE(std::string::npos, ReadFile(log_).find(kLabel));
  // The view does not delete from the token; the key does not leave it.
  EXPECT_EQ(ERR_CERT_NOT_FOUND, r[6].value);
  EXPECT_EQ(1, r[7].value);
  EXPECT_EQ(ERR_KEY_NOT_EXPORTABLE, r[8].value);
  EXPECT_EQ(ERR_KEY_NOT_EXPORTABLE, r[9].error);
  // The PIN went to the token and nowhere else.
  EXPECT_EQ(std::vector<std::string>{folder_.path() + "/run.answers"}, FilesHolding(folder_.path(), kPin));
  EXPECT_TRUE(FilesHolding(home_.path(), kPin).empty());
}

// Without a list of its own the provider takes the modules p11-kit
// configures; SoftHSM's reads the test's token through SOFTHSM2_CONF.
TEST_F(TokenTest, ModulesComeFromP11KitByDefault) {
  std::string listed;
  if (RunCommand("p11-kit list-modules 2>/dev/null | grep -q softhsm", &listed) != 0) {
    GTEST_SKIP() << "p11-kit does not list SoftHSM's module";
  }
  ScopedEnv systemModules("KORVESSA_PKCS11_MODULES", nullptr);
  std::vector<Result> r = Batch({Call("GetIECertCount"), Select()});
  ASSERT_EQ(2u, r.size());
  EXPECT_EQ(1, r[0].value);
  EXPECT_EQ(0, r[1].value);
}

TEST_F(TokenTest, CardErrorsReachTheCaller) {
  struct Case {
    const char* what;
    std::string answers;
    bool lock;
    DWORD capiError;
  } cases[] = {
      {"wrong PIN", "[" + PinAnswer("11112222") + "]", false, kWrongPin},
      {"cancelled", R"([{"dialog": 211, "press": 2}])", false, kCancelled},
      // SoftHSM never locks a PIN itself: the token's locked flag is set in
      // its object file, and no PIN is asked for.
      {"locked", "[" + PinAnswer() + "]", true, kPinBlocked},
  };
  for (const Case& c : cases) {
    if (c.lock) LockPin();
    std::vector<Result> r = Batch({Select(), SignPkcs1(kAnsiBase64)}, c.answers);
    ASSERT_EQ(2u, r.size()) << c.what;
    EXPECT_EQ(0, r[0].value) << c.what;
    EXPECT_EQ(ERR_SIGN, r[1].error) << c.what;
    EXPECT_EQ(c.capiError, r[1].capiError) << c.what;
    EXPECT_EQ(c.lock ? 0u : 1u, PinDialogs()) << c.what;
  }
}

TEST_F(TokenTest, PulledTokenLeavesTheViewAndSignsNothing) {
  ASSERT_EQ(1, Batch({Call("GetIECertCount")})[0].value);
  Pull();
  std::vector<Result> r = Batch({Call("GetIECertCount"), Select(), SignPkcs1(kAnsiBase64)});
  ASSERT_EQ(3u, r.size());
  EXPECT_EQ(0, r[0].value);
  EXPECT_NE(0, r[1].value);
  EXPECT_EQ(ERR_NO_SIGNER, r[2].error);
  PutBack();
  // Selected, then pulled before the signature: the certificate is gone
  // from the store the signature looks in.
  std::string in = Select() + "\n" + SignPkcs1(kAnsiBase64) + "\n";
  const std::string script = folder_.File("pull.answers", "[" + PinAnswer() + "]");
  std::string out;
  RunCommand("( printf '%s' '" + in + "'; sleep 1; " + PullCommand() + "; printf '%s\\n' '" +
                 SignPkcs1(kAnsiBase64) + "' ) | KORVESSA_DIALOGS='" + script + "' '" + KV_HOST_PATH + "' --batch",
             &out);
  r = Parse(out);
  ASSERT_EQ(3u, r.size());
  EXPECT_EQ(0, r[1].error);
  EXPECT_EQ(ERR_NO_SIGNER, r[2].error);
}

TEST_F(TokenTest, TwoProcessesSignAtOnce) {
  std::vector<std::string> calls = {Select()};
  for (int i = 0; i < 20; ++i) calls.push_back(SignPkcs1(kAnsiBase64));
  std::string in;
  for (const std::string& call : calls) in += call + "\n";
  const std::string input = folder_.File("both.in", in);
  const std::string script = folder_.File("both.answers", "[" + PinAnswer() + "]");
  const std::string run = "KORVESSA_DIALOGS='" + script + "' '" + KV_HOST_PATH + "' --batch <'" + input + "' >'" +
                          folder_.path() + "/out";
  ASSERT_EQ(0, RunCommand(run + "1' & " + run + "2' & wait"));
  for (const char* n : {"1", "2"}) {
    std::vector<Result> r = Parse(ReadFile(folder_.path() + "/out" + n));
    ASSERT_EQ(calls.size(), r.size()) << n;
    for (size_t i = 1; i < r.size(); ++i) {
      EXPECT_EQ(0, r[i].error) << n << " " << i << " " << std::hex << r[i].capiError;
      EXPECT_TRUE(VerifiesAsUser(r[i].text, EVP_sha1())) << n << " " << i;
    }
  }
}

TEST_F(TokenTest, AcceptedCertificateGoesOntoTheToken) {
  // A key made on the token, its pending record as a request would have left
  // it, and the certificate the authority issued for it.
  ASSERT_EQ(0, Tool(P11("--keypairgen --key-type rsa:2048 --id 02 --label issued >/dev/null")));
  ASSERT_EQ(0, Tool(P11("--read-object --type pubkey --id 02 -o '" + folder_.path() + "/pub.der' >/dev/null")));
  std::string serial;
  Tool(std::string("pkcs11-tool --module ") + kModule + " -L | sed -n 's/.*serial num *: *//p' | head -1", &serial);
  while (!serial.empty() && (serial.back() == '\n' || serial.back() == ' ')) serial.pop_back();
  const std::string container = std::string(kLabel) + "/" + serial + "/02";
  std::string pubDer = ReadFile(folder_.path() + "/pub.der");
  const unsigned char* p = reinterpret_cast<const unsigned char*>(pubDer.data());
  EVP_PKEY* pub = d2i_PUBKEY(nullptr, &p, static_cast<long>(pubDer.size()));
  ASSERT_NE(nullptr, pub);
  CertSpec spec;
  spec.subject = SimpleName("Issued On Token");
  spec.keyUsage = 0xC0;
  spec.serial = {0x42};
  X509* issued = BuildCert(spec, pub, root_->x509(), root_->key());
  ASSERT_NE(nullptr, issued);
  TestCert cert(issued, pub);
  WriteRecord(container, cert);
  const std::string bundle = Bundle({root_.get(), &cert});

  // A PIN refused: the card keeps nothing and the certificate goes nowhere.
  std::vector<Result> r = Batch({Call("AcceptPKCS7", "\"" + bundle + "\"")}, R"([{"dialog": 211, "press": 2}])");
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ(ERR_CSP_DENIED, r[0].value);
  EXPECT_EQ(kCancelled, r[0].capiError);

  r = Batch({Call("AcceptPKCS7", "\"" + bundle + "\""), Call("GetIECertCount"),
             Call("SelectSigner", R"("S_CN=Issued On Token", 256, 0)"), SignPkcs1(kAnsiBase64)},
            "[" + PinAnswer() + "]");
  ASSERT_EQ(4u, r.size());
  EXPECT_EQ(0, r[0].value);
  EXPECT_EQ(2, r[1].value);  // the accepted one shown once, beside the first
  EXPECT_EQ(0, r[2].value);
  EXPECT_EQ(0, r[3].error);
  std::string objects;
  Tool(P11("--list-objects --type cert"), &objects);
  EXPECT_NE(std::string::npos, objects.find("Issued On Token")) << objects;

  // The store's own copy stays when the token is pulled; its key cannot be
  // reached.
  Pull();
  r = Batch({Call("GetIECertCount"), Call("SelectSigner", R"("S_CN=Issued On Token", 256, 0)"), SignPkcs1(kAnsiBase64)});
  ASSERT_EQ(3u, r.size());
  EXPECT_EQ(1, r[0].value);
  EXPECT_EQ(ERR_IC_CARD_NOT_READY, r[2].error);
  EXPECT_EQ(kRemovedCard, r[2].capiError);
}

}  // namespace
}  // namespace kv::test
