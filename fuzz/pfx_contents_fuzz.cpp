// Fuzz target: the bag parsing of PFXImportCertStore. A mutated PKCS#12 would
// almost never pass the MAC check, so the harness parses the input, seals
// the (mutated) contents again with a fresh MAC under the known password
// "1234", and imports that; the imported key containers are removed again.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/err.h>
#include <openssl/pkcs12.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>
#include "fuzz_home.h"

namespace {

void DeleteKeys(HCERTSTORE store) {
  PCCERT_CONTEXT ctx = nullptr;
  while ((ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) {
    DWORD n = 0;
    if (!CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &n)) continue;
    std::vector<BYTE> block(n);
    if (!CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, block.data(), &n)) continue;
    auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(block.data());
    HCRYPTPROV gone = 0;
    CryptAcquireContextW(&gone, info->pwszContainerName, info->pwszProvName, info->dwProvType,
                         CRYPT_DELETEKEYSET | (info->dwFlags & CRYPT_MACHINE_KEYSET));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::fuzz::UseThrowawayHome();
  const unsigned char* p = data;
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(size));
  if (!p12) {
    ERR_clear_error();
    return 0;
  }
  // One iteration keeps the fuzzer fast; the importer accepts any count.
  unsigned char* der = nullptr;
  int length = 0;
  if (PKCS12_set_mac(p12, "1234", -1, nullptr, 0, 1, nullptr) == 1) length = i2d_PKCS12(p12, &der);
  PKCS12_free(p12);
  ERR_clear_error();
  if (length <= 0) return 0;
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(length), der};
  if (PFXVerifyPassword(&blob, u"1234", 0)) {
    HCERTSTORE store = PFXImportCertStore(&blob, u"1234", CRYPT_EXPORTABLE);
    if (store) {
      DeleteKeys(store);
      CertCloseStore(store, 0);
    }
  }
  OPENSSL_free(der);
  return 0;
}
