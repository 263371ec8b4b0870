// CertGetCertificateChain: issuer search order, trust and error bits.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <vector>

#include "support/temp_home.h"
#include "support/test_pki.h"

namespace {

using kv::test::CertPtr;
using kv::test::CertSpec;

const DWORD kEnc = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

class CertChains : public kv::test::HomeTest {
 protected:
  void SetUp() override {
    static CertPtr root = kv::test::MakeRootCa("Chain Root");
    static CertPtr inter = kv::test::MakeIntermediateCa("Chain Sub", *root);
    static CertPtr leaf = kv::test::MakeEndEntity("Chain User", *inter);
    root_ = root;
    inter_ = inter;
    leaf_ = leaf;
  }
  static void AddTo(const char* storeName, const kv::test::TestCert& cert) {
    HCERTSTORE store = CertOpenSystemStoreA(0, storeName);
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, kEnc, cert.data(), cert.size(), CERT_STORE_ADD_NEW, nullptr));
    CertCloseStore(store, 0);
  }
  PCCERT_CHAIN_CONTEXT Chain(PCCERT_CONTEXT ctx, HCERTSTORE additional = nullptr) {
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(CertGetCertificateChain(nullptr, ctx, nullptr, additional, &para, 0, nullptr, &chain));
    return chain;
  }
  static std::string Cn(PCCERT_CONTEXT ctx) {
    char buf[64];
    CertGetNameStringA(ctx, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), buf, sizeof buf);
    return buf;
  }
  CertPtr root_, inter_, leaf_;
};

TEST_F(CertChains, TrustedPathThroughCaAndRoot) {
  AddTo("ROOT", *root_);
  AddTo("CA", *inter_);
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, leaf_->data(), leaf_->size());
  PCCERT_CHAIN_CONTEXT chain = Chain(ctx);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(chain->TrustStatus.dwErrorStatus, 0u);
  ASSERT_EQ(chain->cChain, 1u);
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  ASSERT_EQ(simple->cElement, 3u);
  EXPECT_EQ(simple->rgpElement[0]->pCertContext, ctx);
  EXPECT_EQ(Cn(simple->rgpElement[1]->pCertContext), "Chain Sub");
  EXPECT_EQ(Cn(simple->rgpElement[2]->pCertContext), "Chain Root");
  EXPECT_TRUE(simple->rgpElement[2]->TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED);
  CertFreeCertificateContext(ctx);
  // The chain holds its own references.
  EXPECT_EQ(Cn(simple->rgpElement[0]->pCertContext), "Chain User");
  CertFreeCertificateChain(chain);
}

TEST_F(CertChains, UntrustedRootAndPartialChain) {
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, leaf_->data(), leaf_->size());
  PCCERT_CHAIN_CONTEXT chain = Chain(ctx);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(chain->TrustStatus.dwErrorStatus, static_cast<DWORD>(CERT_TRUST_IS_PARTIAL_CHAIN));
  EXPECT_EQ(chain->rgpChain[0]->cElement, 1u);
  CertFreeCertificateChain(chain);

  // A memory store (as a PFX import makes) supplies its issuers when it is
  // named as the additional store; its certificates' own store is not
  // searched otherwise, as on Windows.
  HCERTSTORE mem = CertOpenStore(CERT_STORE_PROV_MEMORY, kEnc, 0, 0, nullptr);
  PCCERT_CONTEXT inStore = nullptr;
  for (auto* c : {leaf_.get(), inter_.get(), root_.get()})
    CertAddEncodedCertificateToStore(mem, kEnc, c->data(), c->size(), CERT_STORE_ADD_ALWAYS,
                                     c == leaf_.get() ? &inStore : nullptr);
  chain = Chain(inStore);
  EXPECT_EQ(chain->TrustStatus.dwErrorStatus, static_cast<DWORD>(CERT_TRUST_IS_PARTIAL_CHAIN));
  EXPECT_EQ(chain->rgpChain[0]->cElement, 1u);
  CertFreeCertificateChain(chain);
  chain = Chain(inStore, mem);
  EXPECT_EQ(chain->TrustStatus.dwErrorStatus, static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT));
  EXPECT_EQ(chain->rgpChain[0]->cElement, 3u);
  CertFreeCertificateChain(chain);
  CertFreeCertificateContext(inStore);
  CertCloseStore(mem, 0);

  // The additional store is searched too.
  HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_MEMORY, kEnc, 0, 0, nullptr);
  CertAddEncodedCertificateToStore(extra, kEnc, inter_->data(), inter_->size(), CERT_STORE_ADD_ALWAYS, nullptr);
  AddTo("ROOT", *root_);
  chain = Chain(ctx, extra);
  EXPECT_EQ(chain->TrustStatus.dwErrorStatus, 0u);
  CertFreeCertificateChain(chain);
  CertCloseStore(extra, 0);
  CertFreeCertificateContext(ctx);
}

TEST_F(CertChains, TimeSignatureAndUsageErrors) {
  AddTo("ROOT", *root_);
  CertSpec spec;
  spec.subject = kv::test::SimpleName("Expired");
  spec.notBefore = kv::test::UtcTime(2001, 1, 1);
  spec.notAfter = kv::test::UtcTime(2002, 1, 1);
  auto expired = kv::test::IssueCert(spec, root_.get());
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, expired->data(), expired->size());
  PCCERT_CHAIN_CONTEXT chain = Chain(ctx);
  const DWORD expected = CERT_TRUST_IS_NOT_TIME_VALID;
  EXPECT_EQ(chain->TrustStatus.dwErrorStatus, expected);
  EXPECT_EQ(chain->rgpChain[0]->rgpElement[0]->TrustStatus.dwErrorStatus, expected);
  CertFreeCertificateChain(chain);
  CertFreeCertificateContext(ctx);

  // Same issuer name, different key: the signature does not verify.
  CertSpec impostorSpec;
  impostorSpec.subject = kv::test::SimpleName("Chain Root", "Test Root", "TW");
  impostorSpec.ca = true;
  auto impostor = kv::test::IssueCert(impostorSpec);
  auto forged = kv::test::MakeEndEntity("Forged", *impostor);
  ctx = CertCreateCertificateContext(kEnc, forged->data(), forged->size());
  chain = Chain(ctx);
  EXPECT_TRUE(chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_SIGNATURE_VALID);
  CertFreeCertificateChain(chain);
  CertFreeCertificateContext(ctx);

  // An issuer whose key usage lacks certificate signing.
  CertSpec weakSpec;
  weakSpec.subject = kv::test::SimpleName("Weak CA");
  weakSpec.ca = true;
  weakSpec.keyUsage = 0x80;
  auto weak = kv::test::IssueCert(weakSpec);
  AddTo("ROOT", *weak);
  auto under = kv::test::MakeEndEntity("Under Weak", *weak);
  ctx = CertCreateCertificateContext(kEnc, under->data(), under->size());
  chain = Chain(ctx);
  EXPECT_EQ(chain->TrustStatus.dwErrorStatus, static_cast<DWORD>(CERT_TRUST_IS_NOT_VALID_FOR_USAGE));
  CertFreeCertificateChain(chain);
  CertFreeCertificateContext(ctx);
}

TEST_F(CertChains, BadArguments) {
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, leaf_->data(), leaf_->size());
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertGetCertificateChain(nullptr, ctx, nullptr, nullptr, nullptr, 0, nullptr, &chain));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
  CERT_CONTEXT fake{};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertGetCertificateChain(nullptr, &fake, nullptr, nullptr, &para, 0, nullptr, &chain));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
  EXPECT_EQ(chain, nullptr);
  CertFreeCertificateChain(nullptr);
  CertFreeCertificateContext(ctx);

  // A certificate body without a signature decodes, but has no chain.
  const BYTE body[] = {0x30, 0x34, 0x02, 0x01, 0x01, 0x30, 0x02, 0x06, 0x00, 0x30, 0x00,
                       0x30, 0x1e, 0x17, 0x0d, '2', '0', '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', 'Z',
                       0x17, 0x0d, '3', '0', '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', 'Z',
                       0x30, 0x00, 0x30, 0x07, 0x30, 0x02, 0x06, 0x00, 0x03, 0x01, 0x00};
  PCCERT_CONTEXT unsignedBody = CertCreateCertificateContext(X509_ASN_ENCODING, body, sizeof body);
  ASSERT_NE(unsignedBody, nullptr) << std::hex << GetLastError();
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertGetCertificateChain(nullptr, unsignedBody, nullptr, nullptr, &para, 0, nullptr, &chain));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
  CertFreeCertificateContext(unsignedBody);
}

// X issued by Y issued by X: Windows shows X once more, marked cyclic, and
// reports the chain partial.
TEST_F(CertChains, CyclicPathEndsWithTheRepeatedCertificate) {
  CertPtr firstX = kv::test::MakeRootCa("Cycle X");
  CertPtr y = kv::test::MakeIntermediateCa("Cycle Y", *firstX);
  CertSpec spec;
  spec.subject = kv::test::SimpleName("Cycle X", "Test Root", "TW");
  spec.ca = true;
  CertPtr x = kv::test::IssueCert(spec, y.get());
  HCERTSTORE mem = CertOpenStore(CERT_STORE_PROV_MEMORY, kEnc, 0, 0, nullptr);
  ASSERT_TRUE(CertAddEncodedCertificateToStore(mem, kEnc, y->data(), y->size(), CERT_STORE_ADD_ALWAYS, nullptr));
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, x->data(), x->size());
  PCCERT_CHAIN_CONTEXT chain = Chain(ctx, mem);
  ASSERT_NE(chain, nullptr);
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  ASSERT_EQ(simple->cElement, 3u);
  EXPECT_EQ(simple->rgpElement[2]->pCertContext, ctx);
  EXPECT_TRUE(simple->rgpElement[2]->TrustStatus.dwErrorStatus & CERT_TRUST_IS_CYCLIC);
  EXPECT_TRUE(chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN);
  EXPECT_TRUE(chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_CYCLIC);
  CertFreeCertificateChain(chain);
  CertFreeCertificateContext(ctx);
  CertCloseStore(mem, 0);
}

// With key identifiers linking a certificate to its issuer, Windows reports
// the issuer as matched by key rather than by name.
TEST_F(CertChains, IssuerMatchedByKeyIdentifier) {
  CertPtr root = kv::test::MakeRootCa("Key Root");
  CertPtr leaf = kv::test::MakeEndEntity("Key Leaf", *root);
  // Re-signed copies: the root with a subject key identifier, the leaf
  // naming it in its authority key identifier.
  auto withExtension = [&](X509* cert, X509* issuer, int nid, const char* value) {
    X509* copy = X509_dup(cert);
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer ? issuer : copy, copy, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    EXPECT_NE(ext, nullptr);
    X509_add_ext(copy, ext, -1);
    X509_EXTENSION_free(ext);
    X509_sign(copy, root->key(), EVP_sha256());
    return copy;
  };
  auto derOf = [](X509* cert) {
    unsigned char* der = nullptr;
    int len = i2d_X509(cert, &der);
    std::vector<BYTE> out(der, der + len);
    OPENSSL_free(der);
    X509_free(cert);
    return out;
  };
  X509* rootWithId = withExtension(root->x509(), nullptr, NID_subject_key_identifier, "hash");
  std::vector<BYTE> leafDer = derOf(withExtension(leaf->x509(), rootWithId, NID_authority_key_identifier, "keyid:always"));
  std::vector<BYTE> rootDer = derOf(rootWithId);
  HCERTSTORE mem = CertOpenStore(CERT_STORE_PROV_MEMORY, kEnc, 0, 0, nullptr);
  ASSERT_TRUE(CertAddEncodedCertificateToStore(mem, kEnc, rootDer.data(), static_cast<DWORD>(rootDer.size()),
                                               CERT_STORE_ADD_ALWAYS, nullptr));
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, leafDer.data(), static_cast<DWORD>(leafDer.size()));
  PCCERT_CHAIN_CONTEXT chain = Chain(ctx, mem);
  ASSERT_NE(chain, nullptr);
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  ASSERT_EQ(simple->cElement, 2u);
  EXPECT_EQ(simple->rgpElement[0]->TrustStatus.dwInfoStatus, (DWORD)CERT_TRUST_HAS_KEY_MATCH_ISSUER);
  EXPECT_EQ(simple->rgpElement[1]->TrustStatus.dwInfoStatus,
            (DWORD)(CERT_TRUST_IS_SELF_SIGNED | CERT_TRUST_HAS_NAME_MATCH_ISSUER));
  CertFreeCertificateChain(chain);
  CertFreeCertificateContext(ctx);
  CertCloseStore(mem, 0);
}

}  // namespace
