// Enrolment fixtures: registry readers and the command-line OpenSSL CA.
#include "keys/enrol_test_support.h"

#include <wincrypt.h>

#include <algorithm>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "sign/sign_test_support.h"

namespace kv::test {

DWORD RegValue::Dword() const {
  DWORD value = 0;
  if (data.size() == sizeof value) std::memcpy(&value, data.data(), sizeof value);
  return value;
}

std::vector<std::string> RecordNames() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRecordsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  char name[400];
  for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i) names.push_back(name);
  RegCloseKey(key);
  return names;
}

RegValue RecordValue(const std::string& record, const char* value) {
  RegValue out;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kRecordsKey) + "\\" + record).c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return out;
  DWORD size = 0;
  if (RegQueryValueExA(key, value, nullptr, &out.type, nullptr, &size) == ERROR_SUCCESS) {
    out.data.resize(size);
    RegQueryValueExA(key, value, nullptr, nullptr, out.data.data(), &size);
  }
  RegCloseKey(key);
  return out;
}

std::vector<std::string> ContainerNames() {
  std::vector<std::string> names;
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return names;
  char name[400];
  for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
    DWORD size = sizeof name;
    if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flags)) break;
    names.push_back(name);
  }
  CryptReleaseContext(prov, 0);
  return names;
}

std::string OrphanReport(int* marked) {
  if (marked) *marked = 0;
  std::vector<std::string> containers = ContainerNames();
  std::string report;
  std::vector<std::string> accounted;
  for (const std::string& record : RecordNames()) {
    bool inProgress = RecordValue(record, "InProgress").type != REG_NONE;
    bool complete = !inProgress;
    for (const char* value : {"ProviderName", "ProviderType", "KeySpec", "PublicKey", "DateTime", "CommonName"})
      if (RecordValue(record, value).type == REG_NONE) complete = false;
    bool hasKey = std::find(containers.begin(), containers.end(), record) != containers.end();
    if (inProgress && marked) ++*marked;
    if (inProgress || complete) accounted.push_back(record);
    if (complete && !hasKey) report += "record without key " + record + "; ";
  }
  for (const std::string& container : containers)
    if (std::find(accounted.begin(), accounted.end(), container) == accounted.end())
      report += "key without record " + container + "; ";
  return report;
}

namespace {

void WriteKeyPem(const std::string& path, EVP_PKEY* key) {
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(f);
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

}  // namespace

OpenSslCa::OpenSslCa(const std::string& folder) : folder_(folder) {
  root_ = MakeRootCa("Enrol Test Root");
  intermediate_ = MakeIntermediateCa("Enrol Test Issuing CA", *root_);
  WriteFile(folder_ + "/root.pem", root_->Pem());
  WriteFile(folder_ + "/inter.pem", intermediate_->Pem());
  WriteKeyPem(folder_ + "/inter.key", intermediate_->key());
}

std::string OpenSslCa::Issue(const std::string& requestBase64, const std::string& keyUsage) {
  std::string request = folder_ + "/issue.req";
  std::vector<uint8_t> der = DecodeBase64(requestBase64);
  WriteFile(request, std::string(der.begin(), der.end()));
  WriteFile(folder_ + "/ext.cnf", "keyUsage=critical," + keyUsage + "\nbasicConstraints=CA:FALSE\n");
  std::string out = folder_ + "/issued.pem";
  std::string command = "openssl x509 -req -inform DER -in " + Quote(request) + " -CA " + Quote(folder_ + "/inter.pem") +
                        " -CAkey " + Quote(folder_ + "/inter.key") + " -set_serial " + std::to_string(++serial_) +
                        " -days 30 -sha256 -extfile " + Quote(folder_ + "/ext.cnf") + " -out " + Quote(out) +
                        " 2>/dev/null";
  if (RunCommand(command) != 0) return {};
  return ReadFile(out);
}

std::string OpenSslCa::Bundle(const std::vector<std::string>& pems) {
  std::string chain;
  for (const std::string& pem : pems) chain += pem;
  WriteFile(folder_ + "/bundle.pem", chain);
  std::string out;
  RunCommand("openssl crl2pkcs7 -nocrl -certfile " + Quote(folder_ + "/bundle.pem") +
                 " -outform DER | openssl base64 -A",
             &out);
  return out;
}

bool VerifyRequest(const std::string& folder, const std::string& requestBase64, std::string* text) {
  std::vector<uint8_t> der = DecodeBase64(requestBase64);
  WriteFile(folder + "/verify.req", std::string(der.begin(), der.end()));
  return RunCommand("openssl req -inform DER -in " + Quote(folder + "/verify.req") +
                        " -verify -noout -text -nameopt utf8 2>&1",
                    text) == 0 &&
         text->find("verify OK") != std::string::npos;
}

std::vector<uint8_t> DecodeBase64(const std::string& text) { return FromBase64(text); }

std::string PemToBase64(const std::string& pem) {
  std::string body;
  std::istringstream lines(pem);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind("-----", 0) != 0) body += line;
  return body;
}

std::string EnrolTest::Request(const std::string& commonName, LONG bits, LONG flags) {
  std::string text = TakeText(engine_.CreatePKCS10(Utf8Bstr(commonName), bits, flags));
  EXPECT_EQ(ERR_SUCCESS, engine_.Code()) << engine_.PlatformError();
  return text;
}

}  // namespace kv::test
