// Parsing and matching of certificate filter expressions. All texts are
// narrow strings in the ANSI code page; the escape "\n" is found with the
// lead-byte-aware backslash search so a double-byte character ending in 0x5C
// is never taken for an escape.
#include "cert/filter_expression.h"

#include <cstring>

#include "vocabulary/text.h"

namespace kv::cert {
namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

bool Contains(const std::string& s, const char* needle) { return s.find(needle) != std::string::npos; }

// Replaces every occurrence of `from` by `to` in one left-to-right pass.
std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    size_t hit = text.find(from, pos);
    if (hit == std::string::npos) break;
    out.append(text, pos, hit - pos);
    out += to;
    pos = hit + from.size();
  }
  out.append(text, pos, std::string::npos);
  return out;
}

std::string ReplaceEscapedNewlines(const std::string& text) {
  std::string out;
  size_t pos = 0;
  for (size_t hit = FindBackslash(text); hit != std::string::npos; hit = FindBackslash(text, hit + 1)) {
    if (hit + 1 < text.size() && text[hit + 1] == 'n' && hit >= pos) {
      out.append(text, pos, hit - pos);
      out += ',';
      pos = hit + 2;
    }
  }
  out.append(text, pos, std::string::npos);
  return out;
}

std::string Trim(const std::string& s) {
  const char* blanks = " \t\r\n\v\f";
  size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  size_t last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

std::string DeletePercents(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '%') out += c;
  return out;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> CutTerms(const std::string& input) {
  std::string text = ReplaceEscapedNewlines(input);
  text = ReplaceAll(text, "\r", "");
  text = ReplaceAll(text, "\n", ",");
  text = ReplaceAll(text, " =", "=");
  text = ReplaceAll(text, "= ", "=");

  std::vector<std::string> terms;
  std::string current;
  auto finish = [&]() {
    std::string t = Trim(current);
    if (!t.empty()) terms.push_back(t);
    current.clear();
  };
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    if (comma == std::string::npos) comma = text.size();
    std::string piece = text.substr(pos, comma - pos);
    pos = comma + 1;
    if (piece.empty()) continue;
    size_t eq = piece.find('=');
    if (eq != std::string::npos && eq > 0) {
      finish();
      current = piece;
    } else if (current.empty()) {
      current = piece;
    } else {
      current += ',';
      current += piece;
    }
  }
  finish();
  return terms;
}

std::vector<FilterAlternative> ParseFilter(const std::string& filter) {
  std::vector<FilterAlternative> alternatives;
  if (filter.size() <= 1) return alternatives;
  size_t pos = 0;
  while (pos <= filter.size()) {
    size_t sep = filter.find("//", pos);
    if (sep == std::string::npos) sep = filter.size();
    std::string piece = filter.substr(pos, sep - pos);
    pos = sep + 2;
    if (piece.size() <= 3) continue;
    FilterAlternative alt;
    for (const std::string& term : CutTerms(piece)) {
      if (StartsWith(term, "S_"))
        alt.subjectTerms.push_back(term.substr(2));
      else if (StartsWith(term, "I_"))
        alt.issuerTerms.push_back(term.substr(2));
    }
    alternatives.push_back(std::move(alt));
  }
  return alternatives;
}

CertificateComponents ComponentsOf(const std::string& subject, const std::string& issuer,
                                   const std::string& serialHex) {
  CertificateComponents c;
  c.subject = CutTerms(subject);
  c.subject.push_back("SN=" + serialHex);
  c.issuer = CutTerms(issuer);
  return c;
}

bool MatchesExact(const FilterAlternative& alt, const CertificateComponents& cert) {
  if (alt.subjectTerms.empty()) return true;
  if (cert.subject.empty()) return false;
  bool checked = false;
  for (const std::string& component : cert.subject) {
    const char* key = nullptr;
    for (const char* k : {"C=", "O=", "OU=", "CN="})
      if (StartsWith(component, k)) {
        key = k;
        break;
      }
    if (!key) continue;
    checked = true;
    bool found = false;
    for (const std::string& term : alt.subjectTerms)
      if (Contains(term, key) && term == component) {
        found = true;
        break;
      }
    if (!found) return false;
  }
  return checked;
}

bool MatchesExtendedTerms(const std::vector<std::string>& terms, const std::vector<std::string>& components) {
  if (terms.empty()) return true;
  if (components.empty()) return false;
  auto anyComponent = [&](const char* key, auto&& test) {
    for (const std::string& c : components)
      if (Contains(c, key) && test(c)) return true;
    return false;
  };
  bool outcome = false;
  for (const std::string& term : terms) {
    bool ok;
    if (StartsWith(term, "C=")) {
      ok = anyComponent("C=", [&](const std::string& c) { return c == term; });
    } else if (StartsWith(term, "O=") || StartsWith(term, "OU=")) {
      const char* key = StartsWith(term, "O=") ? "O=" : "OU=";
      if (term.find('%', 1) != std::string::npos) {
        std::string pattern = DeletePercents(term.size() > 3 ? term.substr(3) : std::string());
        ok = anyComponent(key, [&](const std::string& c) { return c.find(pattern) != std::string::npos; });
      } else {
        ok = anyComponent(key, [&](const std::string& c) { return c == term; });
      }
    } else if (StartsWith(term, "CN=")) {
      std::string pattern = DeletePercents(term.substr(3));
      ok = anyComponent("CN=", [&](const std::string& c) { return c.find(pattern, 1) != std::string::npos; });
    } else if (StartsWith(term, "SN=")) {
      ok = anyComponent("SN=", [&](const std::string& c) { return EqualsIgnoringAsciiCase(c, term); });
    } else {
      continue;  // unknown key: leaves the outcome as it is
    }
    if (!ok) return false;
    outcome = true;
  }
  return outcome;
}

bool MatchesExtended(const FilterAlternative& alt, const CertificateComponents& cert) {
  return MatchesExtendedTerms(alt.issuerTerms, cert.issuer) && MatchesExtendedTerms(alt.subjectTerms, cert.subject);
}

}  // namespace kv::cert
