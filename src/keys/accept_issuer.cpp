// Finding an issued certificate's issuer and checking its signature.
#include "keys/accept_issuer.h"

#include "kvseam/owned_handles.h"

namespace kv::keys {
namespace {

struct Search {
  PCCERT_CONTEXT cert;
  bool named = false;     // some certificate is named as the issuer
  DWORD lastError = 0;    // why the last of them did not verify
};

// True when `candidate` is named as the issuer and its key verifies.
bool Signed(Search* search, PCCERT_CONTEXT candidate) {
  if (!CertCompareCertificateName(X509_ASN_ENCODING, &candidate->pCertInfo->Subject,
                                  &search->cert->pCertInfo->Issuer))
    return false;
  search->named = true;
  if (CryptVerifyCertificateSignature(0, X509_ASN_ENCODING, search->cert->pbCertEncoded,
                                      search->cert->cbCertEncoded, &candidate->pCertInfo->SubjectPublicKeyInfo))
    return true;
  search->lastError = GetLastError();
  return false;
}

bool SignedByStoreMember(Search* search, const char* storeName) {
  kv::OwnedStore store(CertOpenSystemStoreA(0, storeName));
  if (!store) return false;  // an unreadable store holds no issuer
  // Each find frees the candidate before it; the last is freed on return.
  kv::OwnedCertificate candidate;
  for (;;) {
    candidate.reset(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                               &search->cert->pCertInfo->Issuer, candidate.release()));
    if (!candidate) return false;
    if (Signed(search, candidate.get())) return true;
  }
}

}  // namespace

ErrorCode CheckIssuerSignature(PCCERT_CONTEXT cert, const std::vector<PCCERT_CONTEXT>& delivered, DWORD* error) {
  *error = 0;
  Search search{cert};
  if (Signed(&search, cert)) return ERR_SUCCESS;
  for (PCCERT_CONTEXT candidate : delivered)
    if (Signed(&search, candidate)) return ERR_SUCCESS;
  if (SignedByStoreMember(&search, "CA") || SignedByStoreMember(&search, "ROOT")) return ERR_SUCCESS;
  if (!search.named) {
    *error = static_cast<DWORD>(CRYPT_E_NOT_FOUND);
    return ERR_CERT_ISSUER_NOT_FOUND;
  }
  *error = search.lastError;
  return ERR_CERT_BAD_SIGNATURE;
}

}  // namespace kv::keys
