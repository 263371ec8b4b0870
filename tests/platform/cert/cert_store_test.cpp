// Memory and system stores: enumeration order, add dispositions, links,
// deletion, persistence across processes and concurrent writers.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/scoped_home.h"
#include "support/temp_home.h"
#include "support/test_pki.h"

namespace {

const DWORD kEnc = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

class CertStores : public kv::test::HomeTest {
 protected:
  static std::vector<kv::test::CertPtr>& Certs() {
    static std::vector<kv::test::CertPtr> certs = [] {
      std::vector<kv::test::CertPtr> made;
      auto root = kv::test::MakeRootCa("Root");
      made.push_back(root);
      for (int i = 0; i < 3; ++i) made.push_back(kv::test::MakeEndEntity("User " + std::to_string(i), *root));
      return made;
    }();
    return certs;
  }
  static std::vector<std::string> Subjects(HCERTSTORE store) {
    std::vector<std::string> names;
    PCCERT_CONTEXT ctx = nullptr;
    while ((ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) {
      char buf[100];
      CertGetNameStringA(ctx, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), buf, sizeof buf);
      names.push_back(buf);
    }
    return names;
  }
  static void SetFriendly(PCCERT_CONTEXT ctx, const std::u16string& text) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>((text.size() + 1) * 2),
                         reinterpret_cast<BYTE*>(const_cast<char16_t*>(text.c_str()))};
    ASSERT_TRUE(CertSetCertificateContextProperty(ctx, CERT_FRIENDLY_NAME_PROP_ID, 0, &blob));
  }
  static std::u16string Friendly(PCCERT_CONTEXT ctx) {
    WCHAR buf[64] = {};
    DWORD size = sizeof buf;
    if (!CertGetCertificateContextProperty(ctx, CERT_FRIENDLY_NAME_PROP_ID, buf, &size)) return u"<none>";
    return std::u16string(buf);
  }
};

TEST_F(CertStores, MemoryStoreEnumeratesInInsertionOrder) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, kEnc, 0, 0, nullptr);
  ASSERT_NE(store, nullptr);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertEnumCertificatesInStore(store, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  for (int i : {2, 0, 1})
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, kEnc, Certs()[i + 1]->data(), Certs()[i + 1]->size(),
                                                 CERT_STORE_ADD_ALWAYS, nullptr));
  EXPECT_EQ(Subjects(store), (std::vector<std::string>{"User 2", "User 0", "User 1"}));
  EXPECT_TRUE(CertCloseStore(store, 0));
}

TEST_F(CertStores, AddDispositions) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, kEnc, 0, 0, nullptr);
  const auto& c = *Certs()[1];
  PCCERT_CONTEXT first = nullptr;
  ASSERT_TRUE(CertAddEncodedCertificateToStore(store, kEnc, c.data(), c.size(), CERT_STORE_ADD_NEW, &first));
  SetFriendly(first, u"old");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertAddEncodedCertificateToStore(store, kEnc, c.data(), c.size(), CERT_STORE_ADD_NEW, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
  PCCERT_CONTEXT existing = nullptr;
  ASSERT_TRUE(CertAddEncodedCertificateToStore(store, kEnc, c.data(), c.size(), CERT_STORE_ADD_USE_EXISTING, &existing));
  EXPECT_EQ(existing, first);
  CertFreeCertificateContext(existing);

  // Inherit keeps the old property; plain replace drops it.
  PCCERT_CONTEXT loose = CertCreateCertificateContext(kEnc, c.data(), c.size());
  PCCERT_CONTEXT added = nullptr;
  ASSERT_TRUE(CertAddCertificateContextToStore(store, loose, CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES, &added));
  EXPECT_EQ(Friendly(added), u"old");
  EXPECT_EQ(added->hCertStore, store);
  CertFreeCertificateContext(added);
  ASSERT_TRUE(CertAddCertificateContextToStore(store, loose, CERT_STORE_ADD_REPLACE_EXISTING, &added));
  EXPECT_EQ(Friendly(added), u"<none>");
  CertFreeCertificateContext(added);
  EXPECT_EQ(Subjects(store).size(), 1u);
  ASSERT_TRUE(CertAddCertificateContextToStore(store, loose, CERT_STORE_ADD_ALWAYS, nullptr));
  EXPECT_EQ(Subjects(store).size(), 2u);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertAddCertificateContextToStore(store, loose, 99, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
  // The first context was replaced but stays usable while held.
  EXPECT_EQ(Friendly(first), u"old");
  CertFreeCertificateContext(first);
  CertFreeCertificateContext(loose);
  CertCloseStore(store, 0);
}

TEST_F(CertStores, ContextsKeepTheirStoreAlive) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, kEnc, 0, 0, nullptr);
  const auto& c = *Certs()[1];
  PCCERT_CONTEXT ctx = nullptr;
  ASSERT_TRUE(CertAddEncodedCertificateToStore(store, kEnc, c.data(), c.size(), CERT_STORE_ADD_ALWAYS, &ctx));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_PENDING_CLOSE));
  EXPECT_EQ(ctx->hCertStore, store);
  SetFriendly(ctx, u"still here");
  EXPECT_EQ(Friendly(ctx), u"still here");
  CertFreeCertificateContext(ctx);

  HCERTSTORE forced = CertOpenStore(CERT_STORE_PROV_MEMORY, kEnc, 0, 0, nullptr);
  ASSERT_TRUE(CertAddEncodedCertificateToStore(forced, kEnc, c.data(), c.size(), CERT_STORE_ADD_ALWAYS, &ctx));
  EXPECT_TRUE(CertCloseStore(forced, CERT_CLOSE_STORE_FORCE_FLAG));
  EXPECT_EQ(ctx->cbCertEncoded, c.size());
  CertFreeCertificateContext(ctx);
}

TEST_F(CertStores, FindByThumbprintAndDelete) {
  HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
  ASSERT_NE(store, nullptr);
  for (int i = 1; i <= 3; ++i)
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, kEnc, Certs()[i]->data(), Certs()[i]->size(),
                                                 CERT_STORE_ADD_ALWAYS, nullptr));
  std::vector<uint8_t> hash = Certs()[2]->Sha1();
  CRYPT_HASH_BLOB blob{20, hash.data()};
  PCCERT_CONTEXT found = CertFindCertificateInStore(store, kEnc, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->cbCertEncoded, Certs()[2]->size());
  PCCERT_CONTEXT again = CertFindCertificateInStore(store, kEnc, 0, CERT_FIND_EXISTING, found, nullptr);
  EXPECT_EQ(again, found);
  CertFreeCertificateContext(again);
  ASSERT_TRUE(CertDeleteCertificateFromStore(found));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertFindCertificateInStore(store, kEnc, 0, CERT_FIND_SHA1_HASH, &blob, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  EXPECT_EQ(Subjects(store), (std::vector<std::string>{"User 0", "User 2"}));
  // Delete while enumerating: the walk goes on after the deleted one.
  PCCERT_CONTEXT ctx = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(ctx, nullptr);
  ASSERT_TRUE(CertDeleteCertificateFromStore(CertDuplicateCertificateContext(ctx)));
  ctx = CertEnumCertificatesInStore(store, ctx);
  ASSERT_NE(ctx, nullptr);
  CertFreeCertificateContext(ctx);
  CertCloseStore(store, 0);

  HCERTSTORE reopened = CertOpenSystemStoreA(0, "my");  // names are case-insensitive
  EXPECT_EQ(Subjects(reopened), (std::vector<std::string>{"User 2"}));
  CertCloseStore(reopened, 0);
}

TEST_F(CertStores, LinksShareProperties) {
  HCERTSTORE source = CertOpenStore(CERT_STORE_PROV_MEMORY, kEnc, 0, 0, nullptr);
  HCERTSTORE target = CertOpenStore(CERT_STORE_PROV_MEMORY, kEnc, 0, 0, nullptr);
  PCCERT_CONTEXT original = nullptr;
  ASSERT_TRUE(CertAddEncodedCertificateToStore(source, kEnc, Certs()[1]->data(), Certs()[1]->size(),
                                               CERT_STORE_ADD_ALWAYS, &original));
  PCCERT_CONTEXT link = nullptr;
  ASSERT_TRUE(CertAddCertificateLinkToStore(target, original, CERT_STORE_ADD_ALWAYS, &link));
  SetFriendly(link, u"through link");
  EXPECT_EQ(Friendly(original), u"through link");
  CertCloseStore(source, 0);
  CertFreeCertificateContext(original);
  // The link keeps the original alive.
  EXPECT_EQ(Friendly(link), u"through link");
  CertFreeCertificateContext(link);
  EXPECT_EQ(Subjects(target).size(), 1u);
  HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
  PCCERT_CONTEXT any = CertEnumCertificatesInStore(target, nullptr);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertAddCertificateLinkToStore(my, any, CERT_STORE_ADD_ALWAYS, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
  CertFreeCertificateContext(any);
  CertCloseStore(my, 0);
  CertCloseStore(target, 0);
}

TEST_F(CertStores, OpenFlagsAndBadHandles) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG,
                          "NoSuchStore"),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  HCERTSTORE ro = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG,
                                u"Root");
  ASSERT_NE(ro, nullptr);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertAddEncodedCertificateToStore(ro, kEnc, Certs()[0]->data(), Certs()[0]->size(),
                                                CERT_STORE_ADD_ALWAYS, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_ACCESSDENIED));
  EXPECT_TRUE(CertCloseStore(ro, 0));
  EXPECT_TRUE(CertCloseStore(nullptr, 0));
  int notAStore = 0;
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertEnumCertificatesInStore(&notAStore, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertOpenStore(reinterpret_cast<LPCSTR>(77), 0, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(CertStores, TwoHandlesOfOneSystemStoreStayInStep) {
  HCERTSTORE a = CertOpenSystemStoreA(0, "MY");
  HCERTSTORE b = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"my");
  PCCERT_CONTEXT added = nullptr;
  ASSERT_TRUE(CertAddEncodedCertificateToStore(a, kEnc, Certs()[1]->data(), Certs()[1]->size(), CERT_STORE_ADD_NEW,
                                               &added));
  // The other handle sees the addition when its next walk starts, and ADD_NEW
  // there finds the existing certificate in the database.
  EXPECT_EQ(Subjects(b), (std::vector<std::string>{"User 0"}));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertAddEncodedCertificateToStore(b, kEnc, Certs()[1]->data(), Certs()[1]->size(), CERT_STORE_ADD_NEW,
                                                nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
  SetFriendly(added, u"from a");
  PCCERT_CONTEXT seen = CertEnumCertificatesInStore(b, nullptr);
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(Friendly(seen), u"from a");
  ASSERT_TRUE(CertDeleteCertificateFromStore(seen));
  EXPECT_TRUE(Subjects(a).empty());
  // The context handed out before the deletion stays readable.
  EXPECT_EQ(added->cbCertEncoded, Certs()[1]->size());
  CertFreeCertificateContext(added);
  CertCloseStore(a, 0);
  CertCloseStore(b, 0);
}

// A handle opened on an unchanged store starts from what the last one read;
// a change anywhere, or another home whose rows have the same numbers, must
// show in the next handle.
TEST_F(CertStores, NewHandlesSeeEachChangeAndTheirOwnHome) {
  auto opened = [] {
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    std::vector<std::string> names = Subjects(store);
    PCCERT_CONTEXT first = CertEnumCertificatesInStore(store, nullptr);
    if (first) {
      std::u16string friendly = Friendly(first);
      names.push_back(std::string(friendly.begin(), friendly.end()));
    }
    CertFreeCertificateContext(first);
    CertCloseStore(store, 0);
    return names;
  };
  HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
  PCCERT_CONTEXT added = nullptr;
  ASSERT_TRUE(CertAddEncodedCertificateToStore(my, kEnc, Certs()[1]->data(), Certs()[1]->size(), CERT_STORE_ADD_NEW,
                                               &added));
  EXPECT_EQ(opened(), (std::vector<std::string>{"User 0", "<none>"}));
  SetFriendly(added, u"named");
  EXPECT_EQ(opened(), (std::vector<std::string>{"User 0", "named"}));
  {
    kv::test::ScopedHome other;
    HCERTSTORE there = CertOpenSystemStoreA(0, "MY");
    ASSERT_TRUE(CertAddEncodedCertificateToStore(there, kEnc, Certs()[2]->data(), Certs()[2]->size(),
                                                 CERT_STORE_ADD_NEW, nullptr));
    CertCloseStore(there, 0);
    EXPECT_EQ(opened(), (std::vector<std::string>{"User 1", "<none>"}));
  }
  EXPECT_EQ(opened(), (std::vector<std::string>{"User 0", "named"}));
  ASSERT_TRUE(CertDeleteCertificateFromStore(added));
  EXPECT_EQ(opened(), (std::vector<std::string>{}));
  CertCloseStore(my, 0);
}

TEST_F(CertStores, CreateNewAndDeleteFlags) {
  const DWORD user = CERT_SYSTEM_STORE_CURRENT_USER;
  HCERTSTORE made = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, user | CERT_STORE_CREATE_NEW_FLAG, "Extra");
  ASSERT_NE(made, nullptr);
  ASSERT_TRUE(CertAddEncodedCertificateToStore(made, kEnc, Certs()[1]->data(), Certs()[1]->size(),
                                               CERT_STORE_ADD_ALWAYS, nullptr));
  CertCloseStore(made, 0);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, user | CERT_STORE_CREATE_NEW_FLAG, "EXTRA"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, user | CERT_STORE_DELETE_FLAG, "Extra"), nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  HCERTSTORE again = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, user, "Extra");
  EXPECT_TRUE(Subjects(again).empty());
  CertCloseStore(again, 0);
  // Bad DER into a store reports the decoder's error.
  const BYTE junk[] = {0x30, 0x82, 0x01};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertAddEncodedCertificateToStore(again = CertOpenSystemStoreA(0, "MY"), kEnc, junk, sizeof junk,
                                                CERT_STORE_ADD_ALWAYS, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_EOD));
  CertCloseStore(again, 0);
}

TEST_F(CertStores, PropertiesPersistAcrossProcesses) {
  {
    HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
    PCCERT_CONTEXT ctx = nullptr;
    ASSERT_TRUE(CertAddEncodedCertificateToStore(my, kEnc, Certs()[1]->data(), Certs()[1]->size(),
                                                 CERT_STORE_ADD_NEW, &ctx));
    SetFriendly(ctx, u"persisted");
    WCHAR container[] = u"c1";
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container;
    info.dwProvType = 1;
    info.dwKeySpec = AT_SIGNATURE;
    ASSERT_TRUE(CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    CertFreeCertificateContext(ctx);
    CertCloseStore(my, 0);
  }
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // A new process sees the certificate and its properties; the changed
    // spelling of the same folder makes it open a connection of its own.
    setenv("KORVESSA_HOME", (home_.path() + "/.").c_str(), 1);
    HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
    PCCERT_CONTEXT ctx = CertEnumCertificatesInStore(my, nullptr);
    bool ok = ctx && Friendly(ctx) == u"persisted";
    DWORD size = 0;
    ok = ok && CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
    std::vector<BYTE> block(size);
    ok = ok && CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, block.data(), &size);
    ok = ok && std::u16string(reinterpret_cast<CRYPT_KEY_PROV_INFO*>(block.data())->pwszContainerName) == u"c1";
    // And its additions are seen by the parent.
    ok = ok && CertAddEncodedCertificateToStore(my, kEnc, Certs()[2]->data(), Certs()[2]->size(),
                                                CERT_STORE_ADD_NEW, nullptr);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
  EXPECT_EQ(Subjects(my), (std::vector<std::string>{"User 0", "User 1"}));
  CertCloseStore(my, 0);
}

TEST_F(CertStores, ConcurrentWritersLoseNothing) {
  const int kProcesses = 4, kEach = 6;
  std::vector<kv::test::CertPtr> certs;
  auto root = Certs()[0];
  for (int i = 0; i < kProcesses * kEach; ++i) {
    kv::test::CertSpec spec;
    spec.subject = kv::test::SimpleName("C" + std::to_string(i));
    spec.serial = {static_cast<uint8_t>(i + 1)};
    spec.keyBits = 512;
    certs.push_back(kv::test::IssueCert(spec, root.get()));
  }
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int i = 0; i < kEach; ++i) {
        HCERTSTORE store = CertOpenSystemStoreA(0, "Shared");
        const auto& c = *certs[p * kEach + i];
        ok = ok && store && CertAddEncodedCertificateToStore(store, kEnc, c.data(), c.size(), CERT_STORE_ADD_NEW, nullptr);
        CertCloseStore(store, 0);
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  HCERTSTORE store = CertOpenSystemStoreA(0, "SHARED");
  EXPECT_EQ(Subjects(store).size(), static_cast<size_t>(kProcesses * kEach));
  CertCloseStore(store, 0);
}

}  // namespace
