// Installing test certificates with their keys into "MY".
#include "support/my_store.h"

#include <vector>

namespace kv::test {

::testing::AssertionResult AddToMyWithKey(const TestCert& cert, DWORD importFlags) {
  Pkcs12Spec spec;
  spec.password = "x";
  std::vector<uint8_t> image = MakePkcs12(cert, {}, spec);
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(image.size()), image.data()};
  HCERTSTORE pfx = PFXImportCertStore(&blob, reinterpret_cast<LPCWSTR>(u"x"), importFlags);
  if (!pfx) return ::testing::AssertionFailure() << "PFXImportCertStore failed: " << GetLastError();
  HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
  if (!my) {
    CertCloseStore(pfx, 0);
    return ::testing::AssertionFailure() << "CertOpenSystemStoreA(MY) failed: " << GetLastError();
  }
  ::testing::AssertionResult result = ::testing::AssertionSuccess();
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(pfx, context)) != nullptr) {
    if (!CertAddCertificateContextToStore(my, context, CERT_STORE_ADD_ALWAYS, nullptr)) {
      result = ::testing::AssertionFailure() << "CertAddCertificateContextToStore failed: " << GetLastError();
      CertFreeCertificateContext(context);
      break;
    }
  }
  CertCloseStore(my, 0);
  CertCloseStore(pfx, 0);
  return result;
}

}  // namespace kv::test
