// The certificate filter language: alternatives separated by "//", terms
// S_key=value (subject) and I_key=value (issuer) separated by commas or line
// breaks, matched exactly (C, O, OU, CN must all agree) or, in extended mode,
// with substring patterns, issuer terms and the serial number.
#pragma once

#include <string>
#include <vector>

namespace kv::cert {

struct FilterAlternative {
  std::vector<std::string> subjectTerms;  // without their "S_" prefix
  std::vector<std::string> issuerTerms;   // without their "I_" prefix
};

// The alternatives of a filter; empty when the filter imposes no name
// condition (empty, one character, or only pieces of three characters or less).
std::vector<FilterAlternative> ParseFilter(const std::string& filter);

// Cuts a filter alternative or a rendered distinguished name into terms:
// "\n" (backslash, n) and line feeds act as commas, carriage returns vanish,
// one blank on each side of '=' is dropped, and pieces without a key continue
// the previous term.
std::vector<std::string> CutTerms(const std::string& text);

// The certificate's side: components of its subject (with "SN=<serial>"
// appended) and of its issuer.
struct CertificateComponents {
  std::vector<std::string> subject;
  std::vector<std::string> issuer;
};
CertificateComponents ComponentsOf(const std::string& subject, const std::string& issuer,
                                   const std::string& serialHex);

// Exact mode: every C, O, OU and CN component of the subject must be listed.
bool MatchesExact(const FilterAlternative& alt, const CertificateComponents& cert);
// Extended mode: issuer and subject terms, patterns, serial.
bool MatchesExtended(const FilterAlternative& alt, const CertificateComponents& cert);
bool MatchesExtendedTerms(const std::vector<std::string>& terms, const std::vector<std::string>& components);

}  // namespace kv::cert
