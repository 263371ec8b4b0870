// PKCS#12: recognising, password checks (null versus empty), import into a
// memory store with new key containers, export read back by OpenSSL, and
// the public corpus of files from other writers.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>

#include <dirent.h>

#include <string>
#include <vector>

#include "support/temp_home.h"
#include "support/test_pki.h"

namespace {

using kv::test::CertPtr;
using kv::test::Pkcs12Spec;

const DWORD kEnc = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::u16string Wide(const std::string& utf8) {
  std::u16string out;
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  out.resize(static_cast<size_t>(n));
  if (n) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

class Pfx : public kv::test::HomeTest {
 protected:
  void SetUp() override {
    static CertPtr root = kv::test::MakeRootCa("Pfx Root");
    static CertPtr leaf = kv::test::MakeEndEntity("Pfx User", *root);
    root_ = root;
    leaf_ = leaf;
  }
  static CRYPT_DATA_BLOB Blob(std::vector<uint8_t>& bytes) {
    return CRYPT_DATA_BLOB{static_cast<DWORD>(bytes.size()), bytes.data()};
  }
  static int Count(HCERTSTORE store) {
    int n = 0;
    PCCERT_CONTEXT ctx = nullptr;
    while ((ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) ++n;
    return n;
  }
  // The container named by the certificate's key-provider property holds a usable key.
  static bool HasKey(PCCERT_CONTEXT ctx, std::u16string* container = nullptr) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return false;
    std::vector<BYTE> block(size);
    if (!CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, block.data(), &size)) return false;
    auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(block.data());
    if (container) *container = info->pwszContainerName;
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextW(&prov, info->pwszContainerName, info->pwszProvName, info->dwProvType, 0)) return false;
    HCRYPTKEY key = 0;
    bool ok = CryptGetUserKey(prov, info->dwKeySpec, &key);
    if (key) CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    return ok;
  }
  CertPtr root_, leaf_;
};

TEST_F(Pfx, RecognisesPkcs12) {
  auto image = kv::test::MakePkcs12(*leaf_, {root_.get()});
  CRYPT_DATA_BLOB blob = Blob(image);
  EXPECT_TRUE(PFXIsPFXBlob(&blob));
  std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
  CRYPT_DATA_BLOB notPfx = Blob(text);
  EXPECT_FALSE(PFXIsPFXBlob(&notPfx));
  CRYPT_DATA_BLOB cert{leaf_->size(), const_cast<BYTE*>(leaf_->data())};
  EXPECT_FALSE(PFXIsPFXBlob(&cert));
  for (DWORD cut = 1; cut < blob.cbData; cut += 97) {
    CRYPT_DATA_BLOB part{cut, blob.pbData};
    EXPECT_FALSE(PFXIsPFXBlob(&part)) << cut;
  }
  SetLastError(0xdeadbeef);
  EXPECT_EQ(PFXImportCertStore(&notPfx, u"", 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
}

TEST_F(Pfx, ImportsCertificatesAndKeyIntoNewContainers) {
  auto image = kv::test::MakePkcs12(*leaf_, {root_.get()}, Pkcs12Spec());
  CRYPT_DATA_BLOB blob = Blob(image);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(PFXVerifyPassword(&blob, u"wrong", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PASSWORD));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(PFXImportCertStore(&blob, u"wrong", CRYPT_EXPORTABLE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PASSWORD));
  EXPECT_TRUE(PFXVerifyPassword(&blob, u"1234", 0));

  HCERTSTORE first = PFXImportCertStore(&blob, u"1234", CRYPT_EXPORTABLE);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Count(first), 2);
  PCCERT_CONTEXT userCert = CertEnumCertificatesInStore(first, nullptr);
  ASSERT_NE(userCert, nullptr);
  EXPECT_EQ(userCert->cbCertEncoded, leaf_->size());
  std::u16string containerA;
  EXPECT_TRUE(HasKey(userCert, &containerA));
  PCCERT_CONTEXT caCert = CertEnumCertificatesInStore(first, CertDuplicateCertificateContext(userCert));
  ASSERT_NE(caCert, nullptr);
  EXPECT_FALSE(HasKey(caCert));
  CertFreeCertificateContext(caCert);

  // A second import gets a container of its own.
  HCERTSTORE second = PFXImportCertStore(&blob, u"1234", 0);
  ASSERT_NE(second, nullptr);
  PCCERT_CONTEXT again = CertEnumCertificatesInStore(second, nullptr);
  std::u16string containerB;
  EXPECT_TRUE(HasKey(again, &containerB));
  EXPECT_NE(containerA, containerB);
  CertFreeCertificateContext(again);

  // Exportable keys export; the other import refuses as Windows reports it.
  CRYPT_DATA_BLOB out{0, nullptr};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(PFXExportCertStore(second, &out, u"pw", EXPORT_PRIVATE_KEYS | REPORT_NOT_ABLE_TO_EXPORT_PRIVATE_KEY));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEY));
  ASSERT_TRUE(PFXExportCertStore(first, &out, u"pw", EXPORT_PRIVATE_KEYS | REPORT_NOT_ABLE_TO_EXPORT_PRIVATE_KEY));
  std::vector<uint8_t> exported(out.cbData);
  out.pbData = exported.data();
  out.cbData -= 1;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(PFXExportCertStore(first, &out, u"pw", EXPORT_PRIVATE_KEYS));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(out.cbData, exported.size());
  ASSERT_TRUE(PFXExportCertStore(first, &out, u"pw", EXPORT_PRIVATE_KEYS | REPORT_NOT_ABLE_TO_EXPORT_PRIVATE_KEY));
  exported.resize(out.cbData);

  // OpenSSL reads the export: key, certificate and the CA certificate.
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  ASSERT_TRUE(kv::test::ParsePkcs12(exported, "pw", &key, &cert, &chain));
  ASSERT_NE(key, nullptr);
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(X509_check_private_key(cert, key), 1);
  EXPECT_EQ(X509_cmp(cert, leaf_->x509()), 0);
  EXPECT_EQ(sk_X509_num(chain), 1);
  EVP_PKEY_free(key);
  X509_free(cert);
  sk_X509_pop_free(chain, X509_free);
  // Windows's layout: PBE-SHA1-3DES and a SHA-1 MAC.
  const unsigned char* p = exported.data();
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(exported.size()));
  ASSERT_NE(p12, nullptr);
  const X509_ALGOR* macAlg = nullptr;
  PKCS12_get0_mac(nullptr, &macAlg, nullptr, nullptr, p12);
  EXPECT_EQ(OBJ_obj2nid(macAlg->algorithm), NID_sha1);
  STACK_OF(PKCS7)* safes = PKCS12_unpack_authsafes(p12);
  ASSERT_NE(safes, nullptr);
  PKCS7* encrypted = sk_PKCS7_value(safes, 0);
  ASSERT_EQ(OBJ_obj2nid(encrypted->type), NID_pkcs7_encrypted);
  EXPECT_EQ(OBJ_obj2nid(encrypted->d.encrypted->enc_data->algorithm->algorithm), NID_pbe_WithSHA1And3_Key_TripleDES_CBC);
  sk_PKCS7_pop_free(safes, PKCS7_free);
  PKCS12_free(p12);

  CertFreeCertificateContext(userCert);
  CertCloseStore(first, 0);
  CertCloseStore(second, 0);
}

TEST_F(Pfx, NullAndEmptyPasswordsDiffer) {
  Pkcs12Spec empty;
  empty.password = "";
  auto emptyImage = kv::test::MakePkcs12(*leaf_, {}, empty);
  CRYPT_DATA_BLOB blob = Blob(emptyImage);
  EXPECT_TRUE(PFXVerifyPassword(&blob, u"", 0));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(PFXVerifyPassword(&blob, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PASSWORD));

  Pkcs12Spec none;
  none.password = nullptr;
  auto nullImage = kv::test::MakePkcs12(*leaf_, {}, none);
  CRYPT_DATA_BLOB nullBlob = Blob(nullImage);
  EXPECT_FALSE(PFXVerifyPassword(&nullBlob, u"", 0));
  EXPECT_TRUE(PFXVerifyPassword(&nullBlob, nullptr, 0));
  HCERTSTORE store = PFXImportCertStore(&nullBlob, nullptr, 0);
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(Count(store), 1);
  CertCloseStore(store, 0);
}

// A passed password check spares the import that follows it the same MAC
// check, for that file and password only.
TEST_F(Pfx, ImportAfterPasswordCheckStillChecksItsOwnFileAndPassword) {
  Pkcs12Spec other;
  other.password = "5678";
  auto image = kv::test::MakePkcs12(*leaf_, {}, Pkcs12Spec());
  auto otherImage = kv::test::MakePkcs12(*leaf_, {}, other);
  CRYPT_DATA_BLOB blob = Blob(image), otherBlob = Blob(otherImage);
  struct Case {
    CRYPT_DATA_BLOB* imported;
    const char16_t* password;
    bool opens;
  } cases[] = {
      {&blob, u"1234", true},
      {&otherBlob, u"1234", false},  // another file after the check
      {&blob, u"5678", false},       // another password after the check
      {&blob, nullptr, false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(PFXVerifyPassword(&blob, u"1234", 0));
    SetLastError(0);
    HCERTSTORE store = PFXImportCertStore(c.imported, reinterpret_cast<LPCWSTR>(c.password), 0);
    EXPECT_EQ(store != nullptr, c.opens) << (c.password ? "password" : "null");
    if (store) {
      EXPECT_EQ(Count(store), 1);
      CertCloseStore(store, 0);
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PASSWORD));
    }
  }
  // Spent by the import: a second one checks the MAC itself, and still opens.
  HCERTSTORE again = PFXImportCertStore(&blob, u"1234", 0);
  EXPECT_NE(again, nullptr);
  CertCloseStore(again, 0);
}

TEST_F(Pfx, ModernAesFilesAndChineseFriendlyName) {
  Pkcs12Spec aes;
  aes.password = "密碼123";
  aes.keyPbe = NID_aes_256_cbc;
  aes.certPbe = NID_aes_256_cbc;
  aes.macDigest = EVP_sha256();
  aes.friendlyName = "王小明";
  auto image = kv::test::MakePkcs12(*leaf_, {root_.get()}, aes);
  CRYPT_DATA_BLOB blob = Blob(image);
  std::u16string password = Wide("密碼123");
  HCERTSTORE store = PFXImportCertStore(&blob, password.c_str(), CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED);
  ASSERT_NE(store, nullptr);
  PCCERT_CONTEXT ctx = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(ctx, nullptr);
  EXPECT_TRUE(HasKey(ctx));
  WCHAR name[32] = {};
  DWORD size = sizeof name;
  ASSERT_TRUE(CertGetCertificateContextProperty(ctx, CERT_FRIENDLY_NAME_PROP_ID, name, &size));
  EXPECT_EQ(std::u16string(name), Wide("王小明"));
  CertFreeCertificateContext(ctx);
  CertCloseStore(store, 0);
}

// The friendly name as the file's own BMPString bytes: CJK text and a
// character beyond the BMP (U+20BB7, written as the surrogate pair D842 DFB7)
// reach the property unchanged.
TEST_F(Pfx, FriendlyNameIsReadFromTheBmpStringBytes) {
  struct Case {
    std::vector<uint8_t> bmp;
    std::u16string expected;
  };
  const Case cases[] = {
      {{0x73, 0x8B, 0x5C, 0x0F, 0x66, 0x0E}, u"\u738B\u5C0F\u660E"},
      {{0x00, 0x41, 0xD8, 0x42, 0xDF, 0xB7, 0x54, 0x09}, u"A\U00020BB7\u5409"},
      {{0x5C, 0x0F, 0x00, 0x00}, u"\u5C0F"},  // a trailing terminator is not part of the name
  };
  for (const Case& c : cases) {
    Pkcs12Spec spec;
    spec.friendlyNameBmp = c.bmp;
    auto image = kv::test::MakePkcs12(*leaf_, {root_.get()}, spec);
    CRYPT_DATA_BLOB blob = Blob(image);
    HCERTSTORE store = PFXImportCertStore(&blob, u"1234", 0);
    ASSERT_NE(store, nullptr);
    PCCERT_CONTEXT ctx = nullptr;
    bool found = false;
    while ((ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) {
      DWORD size = 0;
      if (!CertGetCertificateContextProperty(ctx, CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size)) continue;
      std::vector<WCHAR> name(size / sizeof(WCHAR));
      ASSERT_TRUE(CertGetCertificateContextProperty(ctx, CERT_FRIENDLY_NAME_PROP_ID, name.data(), &size));
      EXPECT_EQ(std::u16string(name.data()), c.expected);
      EXPECT_TRUE(HasKey(ctx));
      found = true;
    }
    EXPECT_TRUE(found);
    CertCloseStore(store, 0);
  }
}

TEST_F(Pfx, ExportReportsMissingKeys) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, kEnc, 0, 0, nullptr);
  CertAddEncodedCertificateToStore(store, kEnc, leaf_->data(), leaf_->size(), CERT_STORE_ADD_ALWAYS, nullptr);
  CRYPT_DATA_BLOB out{0, nullptr};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(PFXExportCertStore(store, &out, u"x", EXPORT_PRIVATE_KEYS | REPORT_NO_PRIVATE_KEY));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));
  // Without the report flag the certificate is written alone.
  ASSERT_TRUE(PFXExportCertStore(store, &out, u"x", EXPORT_PRIVATE_KEYS));
  std::vector<uint8_t> image(out.cbData);
  out.pbData = image.data();
  ASSERT_TRUE(PFXExportCertStore(store, &out, u"x", EXPORT_PRIVATE_KEYS));
  CRYPT_DATA_BLOB back = Blob(image);
  HCERTSTORE reread = PFXImportCertStore(&back, u"x", 0);
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(Count(reread), 1);
  CertCloseStore(reread, 0);
  int notAStore = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(PFXExportCertStore(&notAStore, &out, u"x", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
  CertCloseStore(store, 0);
}

// A size query keeps its image for the data call; a data call that asks for
// anything else (another password, other flags, a changed store) must get a
// file of its own making.
TEST_F(Pfx, DataCallAfterSizeQueryExportsWhatItAsksFor) {
  auto source = kv::test::MakePkcs12(*leaf_, {root_.get()}, Pkcs12Spec());
  CRYPT_DATA_BLOB blob = Blob(source);
  const DWORD keys = EXPORT_PRIVATE_KEYS;
  struct Case {
    const char16_t* password;
    DWORD flags;
    bool dropRoot;
    int certs;
    bool key;
  } cases[] = {{u"pw", keys, false, 2, true},
               {u"other", keys, false, 2, true},
               {u"pw", 0, false, 2, false},
               {u"pw", keys, true, 1, true}};
  for (const Case& c : cases) {
    HCERTSTORE store = PFXImportCertStore(&blob, u"1234", CRYPT_EXPORTABLE);
    ASSERT_NE(store, nullptr);
    CRYPT_DATA_BLOB out{0, nullptr};
    ASSERT_TRUE(PFXExportCertStore(store, &out, u"pw", keys));
    PCCERT_CONTEXT ctx = nullptr;
    while (c.dropRoot && (ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) {
      if (ctx->cbCertEncoded == root_->size()) CertDeleteCertificateFromStore(CertDuplicateCertificateContext(ctx));
    }
    std::vector<uint8_t> image(out.cbData + 64);
    out = {static_cast<DWORD>(image.size()), image.data()};
    ASSERT_TRUE(PFXExportCertStore(store, &out, reinterpret_cast<LPCWSTR>(c.password), c.flags));
    image.resize(out.cbData);
    const std::string password(c.password, c.password + std::char_traits<char16_t>::length(c.password));
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    ASSERT_TRUE(kv::test::ParsePkcs12(image, password.c_str(), &key, &cert, &chain)) << password;
    EXPECT_EQ(key != nullptr, c.key) << password << " " << c.flags;
    EXPECT_EQ((cert ? 1 : 0) + (chain ? sk_X509_num(chain) : 0), c.certs) << password << " " << c.dropRoot;
    EVP_PKEY_free(key);
    X509_free(cert);
    sk_X509_pop_free(chain, X509_free);
    CertCloseStore(store, 0);
  }
}

TEST_F(Pfx, NonRsaKeysAreRefused) {
  kv::test::CertSpec spec;
  spec.subject = kv::test::SimpleName("EC User");
  spec.ecKey = true;
  auto ec = kv::test::IssueCert(spec);
  auto image = kv::test::MakePkcs12(*ec, {});
  CRYPT_DATA_BLOB blob = Blob(image);
  EXPECT_TRUE(PFXIsPFXBlob(&blob));
  EXPECT_TRUE(PFXVerifyPassword(&blob, u"1234", 0));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(PFXImportCertStore(&blob, u"1234", 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID));
}

std::string PasswordFor(const std::string& dir, const std::string& name, bool* isNull) {
  *isNull = false;
  auto fromFile = [&](const char* file) { return kv::test::ReadFile(dir + "/" + file); };
  if (name.find("pass(empty") != std::string::npos) return "";
  if (name.find("pass(unicode") != std::string::npos) return fromFile("password-unicode.txt");
  if (name.find("pass(ascii") != std::string::npos || name.find("pass-mac(ascii") != std::string::npos)
    return fromFile("password-ascii.txt");
  *isNull = true;
  return "";
}

TEST_F(Pfx, PublicCorpus) {
  const std::string dir = std::string(KV_SHARED_DIR) + "/testdata/pkcs12-corpus";
  DIR* d = opendir(dir.c_str());
  if (!d) GTEST_SKIP() << "no PKCS#12 corpus at " << dir;
  std::vector<std::string> files;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".p12") files.push_back(name);
  }
  closedir(d);
  kv::test::LoadLegacyProvider();
  int imported = 0, refused = 0;
  for (const std::string& name : files) {
    // The million-iteration files only cost time here; their algorithms are covered by their siblings.
    if (name.find("1000000") != std::string::npos) continue;
    std::string bytes = kv::test::ReadFile(dir + "/" + name);
    std::vector<uint8_t> image(bytes.begin(), bytes.end());
    bool isNull;
    std::string password = PasswordFor(dir, name, &isNull);
    std::u16string wide = Wide(password);
    CRYPT_DATA_BLOB blob = Blob(image);
    PFXIsPFXBlob(&blob);
    SetLastError(0xdeadbeef);
    HCERTSTORE store = PFXImportCertStore(&blob, isNull ? nullptr : wide.c_str(), 0);
    DWORD error = GetLastError();
    bool rsa = name.rfind("rsa(", 0) == 0 && name.find("malformed") == std::string::npos;
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    bool opensslReads = kv::test::ParsePkcs12(image, isNull ? nullptr : password.c_str(), &key, &cert, &chain);
    if (rsa && opensslReads) {
      EXPECT_NE(store, nullptr) << name << " error " << std::hex << error;
      if (store && cert) {
        PCCERT_CONTEXT ctx = CertEnumCertificatesInStore(store, nullptr);
        bool found = false;
        while (ctx) {
          const unsigned char* p = ctx->pbCertEncoded;
          X509* x = d2i_X509(nullptr, &p, ctx->cbCertEncoded);
          if (x && X509_cmp(x, cert) == 0) found = key == nullptr || HasKey(ctx);
          X509_free(x);
          if (found) {
            CertFreeCertificateContext(ctx);
            break;
          }
          ctx = CertEnumCertificatesInStore(store, ctx);
        }
        EXPECT_TRUE(found) << name;
      }
    } else if (!rsa) {
      EXPECT_EQ(store, nullptr) << name;
      if (!store) {
        EXPECT_NE(error, 0xdeadbeefu) << name;
      }
    }
    if (store) {
      ++imported;
      CertCloseStore(store, 0);
    } else {
      ++refused;
    }
    EVP_PKEY_free(key);
    X509_free(cert);
    sk_X509_pop_free(chain, X509_free);
  }
  EXPECT_GT(imported, 60);
  RecordProperty("imported", imported);
  RecordProperty("refused", refused);
}

}  // namespace
