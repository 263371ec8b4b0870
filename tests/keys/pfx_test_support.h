// Fixtures for the PFX lifecycle and mobile export tests: certificates in the
// personal store with exportable or fixed keys, PFX files, and OpenSSL's view
// (library and command line) of what the engine wrote.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sign/sign_test_support.h"

namespace kv::test {

// What OpenSSL finds in a PKCS#12 file.
struct OpenedPfx {
  bool opened = false;
  std::vector<uint8_t> keyDer;                  // the private key, PKCS#8 DER
  std::vector<uint8_t> certDer;                 // the certificate matching the key
  std::vector<std::vector<uint8_t>> otherDers;  // the other certificates
};
OpenedPfx OpenPfxWithOpenSsl(const std::string& path, const char* password);
// `openssl pkcs12` on the file: its exit status, with or without -legacy.
int OpenSslPkcs12(const std::string& path, const std::string& password, bool legacy, std::string* out = nullptr);
std::vector<uint8_t> PrivateKeyDer(EVP_PKEY* key);

// Key containers of the user.
int CountKeyContainers();

class PfxTest : public SigningTest {
 protected:
  // Puts `cert` with its key into the personal store, the key exportable or not.
  void AddToMyWithKey(const TestCert& cert, bool exportable);
  // Puts a certificate without a key into a system store ("MY", "ROOT", "CA").
  void AddCertOnly(const char* store, const TestCert& cert);
  // Number of certificates in the personal store.
  int CountMy();
  std::string Path(const std::string& name) const { return folder_.path() + "/" + name; }
  BSTR Folder() const { return Utf8Bstr(folder_.path()); }
};

}  // namespace kv::test
