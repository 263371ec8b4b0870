// Fixtures for the enrolment tests: a fresh home and engine per test, an
// OpenSSL certification authority (root and intermediate) driven through the
// openssl command line, and readers of the PendingRequest records.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "engine/capi_engine.h"
#include "keys/cert_request_manager.h"
#include "support/temp_home.h"
#include "support/test_pki.h"
#include "ui/dialog_test_support.h"

namespace kv::test {

// One registry value as stored.
struct RegValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  // The text; the writer passes its length without a terminator, and a
  // terminator the platform keeps after it (Windows stores the zero that
  // follows such data in memory) is not part of the text.
  std::string Text() const {
    std::string text(data.begin(), data.end());
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }
  DWORD Dword() const;
};

// The records folder of the engine: HKCU\Software\VELK\Korvessa.
inline constexpr char kRecordsKey[] = "Software\\VELK\\Korvessa";

// Subkey names under the records folder, in enumeration order.
std::vector<std::string> RecordNames();
// A value of one record; type REG_NONE when absent.
RegValue RecordValue(const std::string& record, const char* value);

// Names of the user's key containers, as the provider lists them.
std::vector<std::string> ContainerNames();
// What would lose a key: a container without a complete record (all six
// values, no in-progress mark), or a complete record without its container;
// "" when there is none. Records still marked in progress, whose containers
// the next request sweeps, are counted in *marked.
std::string OrphanReport(int* marked = nullptr);

// A CA of a self-signed root and an intermediate, both with their keys in
// PEM files, that issues end-entity certificates for PKCS#10 requests with
// `openssl x509 -req`.
class OpenSslCa {
 public:
  explicit OpenSslCa(const std::string& folder);
  // Issues a certificate (PEM) for a Base64 request; empty on failure.
  std::string Issue(const std::string& requestBase64, const std::string& keyUsage = "digitalSignature,nonRepudiation");
  // A certificates-only PKCS#7 (Base64 DER, one line) of the given PEM
  // certificates, in that order.
  std::string Bundle(const std::vector<std::string>& pems);
  const TestCert& root() const { return *root_; }
  const TestCert& intermediate() const { return *intermediate_; }

 private:
  std::string folder_;
  CertPtr root_;
  CertPtr intermediate_;
  int serial_ = 100;
};

// Runs `openssl req -verify -noout -text` on a Base64 request; the output in
// *text, true when the signature verified.
bool VerifyRequest(const std::string& folder, const std::string& requestBase64, std::string* text);
// The DER of a Base64 request or certificate.
std::vector<uint8_t> DecodeBase64(const std::string& text);
// A PEM certificate's DER, in one line of Base64.
std::string PemToBase64(const std::string& pem);

class EnrolTest : public HomeTest {
 protected:
  // Generates a request through the engine and fails the test on error.
  std::string Request(const std::string& commonName, LONG bits = 1024, LONG flags = 0);
  TempFolder folder_;
  CCapiEngine engine_;
};

}  // namespace kv::test
