// Fuzz target: PFXIsPFXBlob, PFXVerifyPassword and PFXImportCertStore on
// arbitrary bytes with a fixed, an empty and a null password.
#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <cstdint>
#include <string>
#include "fuzz_home.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::fuzz::UseThrowawayHome();
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(size), const_cast<BYTE*>(data)};
  if (!PFXIsPFXBlob(&blob)) return 0;
  const WCHAR* passwords[] = {u"1234", u"", nullptr};
  for (const WCHAR* password : passwords) {
    PFXVerifyPassword(&blob, password, 0);
    HCERTSTORE store = PFXImportCertStore(&blob, password, 0);
    if (!store) continue;
    PCCERT_CONTEXT ctx = nullptr;
    while ((ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) {
      DWORD n = 0;
      CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &n);
    }
    CertCloseStore(store, 0);
  }
  return 0;
}
