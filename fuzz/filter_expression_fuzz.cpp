// Fuzz target: the certificate filter language. The first part of the input
// is the filter, the rest a subject and an issuer, matched both ways.
#include <cstdint>
#include <string>

#include "cert/filter_expression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t cut = input.find('\x01');
  std::string filter = input.substr(0, cut);
  std::string rest = cut == std::string::npos ? "C=TW, O=Test, CN=Someone" : input.substr(cut + 1);
  size_t cut2 = rest.find('\x01');
  std::string subject = rest.substr(0, cut2);
  std::string issuer = cut2 == std::string::npos ? "CN=Issuer" : rest.substr(cut2 + 1);
  kv::cert::CertificateComponents cert = kv::cert::ComponentsOf(subject, issuer, "0A1B");
  for (const kv::cert::FilterAlternative& alt : kv::cert::ParseFilter(filter)) {
    kv::cert::MatchesExact(alt, cert);
    kv::cert::MatchesExtended(alt, cert);
  }
  kv::cert::MatchesExtendedTerms(kv::cert::CutTerms(filter), cert.subject);
  return 0;
}
