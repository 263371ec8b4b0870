// The filter language: alternatives, term cutting and normalisation, exact
// and extended matching.
#include <gtest/gtest.h>

#include "cert/filter_expression.h"
#include "support/temp_home.h"

namespace {

using kv::cert::ComponentsOf;
using kv::cert::CutTerms;
using kv::cert::MatchesExact;
using kv::cert::MatchesExtended;
using kv::cert::ParseFilter;
using Terms = std::vector<std::string>;

TEST(FilterAlternatives, ShortFiltersAndPiecesImposeNothing) {
  EXPECT_TRUE(ParseFilter("").empty());
  EXPECT_TRUE(ParseFilter("x").empty());
  EXPECT_TRUE(ParseFilter("//ab//").empty());
  EXPECT_TRUE(ParseFilter("abc").empty());
  auto alts = ParseFilter("S_CN=x//S_CN=y");
  ASSERT_EQ(alts.size(), 2u);
  EXPECT_EQ(alts[0].subjectTerms, Terms{"CN=x"});
  EXPECT_EQ(alts[1].subjectTerms, Terms{"CN=y"});
}

TEST(FilterTerms, SeparatorsAndNormalisation) {
  EXPECT_EQ(CutTerms("S_C=TW,S_CN=A123"), (Terms{"S_C=TW", "S_CN=A123"}));
  EXPECT_EQ(CutTerms("S_C=TW\nS_CN=A123"), CutTerms("S_C=TW,S_CN=A123"));
  EXPECT_EQ(CutTerms("S_C=TW\\nS_CN=A123"), CutTerms("S_C=TW,S_CN=A123"));
  EXPECT_EQ(CutTerms("S_C=TW\r\nS_CN=A123"), CutTerms("S_C=TW,S_CN=A123"));
  EXPECT_EQ(CutTerms(",,S_C = TW,,,"), Terms{"S_C=TW"});
  // Only one blank on each side of '=' goes.
  EXPECT_EQ(CutTerms("S_C  =  TW"), Terms{"S_C = TW"});
  // A piece without a key continues the previous term.
  EXPECT_EQ(CutTerms("O=Bank, Taipei Branch,CN=x"), (Terms{"O=Bank, Taipei Branch", "CN=x"}));
  EXPECT_EQ(CutTerms("=a,b"), Terms{"=a,b"});
  EXPECT_EQ(CutTerms("  CN=x  "), Terms{"CN=x"});
}

TEST(FilterTerms, Big5TrailBackslashIsNotAnEscape) {
  kv::test::ScopedEnv cp("KORVESSA_CODEPAGE", nullptr);
  // "功" is A5 5C: followed by 'n' it must stay a character, not a separator.
  std::string text = "CN=\xA5\x5Cn";
  EXPECT_EQ(CutTerms(text), Terms{text});
}

TEST(FilterPrefixes, CaseSensitiveAndOthersDropped) {
  auto alts = ParseFilter("s_CN=x,S_cn=y,I_O=Root CA,X_CN=z");
  ASSERT_EQ(alts.size(), 1u);
  EXPECT_EQ(alts[0].subjectTerms, Terms{"cn=y"});
  EXPECT_EQ(alts[0].issuerTerms, Terms{"O=Root CA"});
}

const char* kSubject = "C=TW, O=Bank, CN=A123456789";
const char* kIssuer = "C=TW, O=Root CA, CN=Issuing CA";

TEST(ExactMatch, EveryCOOUCNMustBeListed) {
  auto cert = ComponentsOf(kSubject, kIssuer, "0A1B");
  EXPECT_FALSE(MatchesExact(ParseFilter("S_CN=A123456789")[0], cert));
  EXPECT_TRUE(MatchesExact(ParseFilter("S_C=TW,S_O=Bank,S_CN=A123456789")[0], cert));
  EXPECT_TRUE(MatchesExact(ParseFilter("S_C=TW,S_O=Bank,S_CN=A123456789,S_OU=extra")[0], cert));
  EXPECT_TRUE(MatchesExact(ParseFilter("I_O=anything")[0], cert)) << "no subject terms";
  // A subject with none of the four keys never matches a subject term.
  EXPECT_FALSE(MatchesExact(ParseFilter("S_E=a@b.c")[0], ComponentsOf("E=a@b.c", kIssuer, "01")));
}

TEST(ExtendedMatch, PatternsAndExactValues) {
  auto cert = ComponentsOf(kSubject, kIssuer, "0A1B");
  EXPECT_TRUE(MatchesExtended(ParseFilter("S_CN=12345")[0], cert));
  EXPECT_TRUE(MatchesExtended(ParseFilter("S_CN=%A123%")[0], cert));
  EXPECT_FALSE(MatchesExtended(ParseFilter("S_CN=99999")[0], cert));
  EXPECT_TRUE(MatchesExtended(ParseFilter("S_O=%Ban%")[0], cert));
  EXPECT_TRUE(MatchesExtended(ParseFilter("S_O=Bank")[0], cert));
  EXPECT_FALSE(MatchesExtended(ParseFilter("S_O=Ban")[0], cert));
  EXPECT_TRUE(MatchesExtended(ParseFilter("S_C=TW")[0], cert));
  EXPECT_FALSE(MatchesExtended(ParseFilter("S_C=JP")[0], cert));
  EXPECT_TRUE(MatchesExtended(ParseFilter("S_SN=0a1b")[0], cert));
  EXPECT_FALSE(MatchesExtended(ParseFilter("S_SN=0a1c")[0], cert));
  EXPECT_FALSE(MatchesExtended(ParseFilter("S_L=Taipei")[0], cert)) << "only unknown keys: no match";
  EXPECT_TRUE(MatchesExtended(ParseFilter("S_L=Taipei,S_C=TW")[0], cert));
}

TEST(ExtendedMatch, IssuerAndSubjectMustBothMatch) {
  auto cert = ComponentsOf(kSubject, kIssuer, "0A1B");
  EXPECT_TRUE(MatchesExtended(ParseFilter("I_O=Root CA,S_CN=1234")[0], cert));
  EXPECT_FALSE(MatchesExtended(ParseFilter("I_O=Other CA,S_CN=1234")[0], cert));
  EXPECT_FALSE(MatchesExtended(ParseFilter("I_O=Root CA,S_CN=9999")[0], cert));
}

TEST(ExtendedMatch, OrganisationalUnitPattern) {
  auto cert = ComponentsOf("C=TW, O=Bank, OU=Retail Banking, CN=x1", kIssuer, "01");
  EXPECT_TRUE(MatchesExtended(ParseFilter("S_OU=%Retail%")[0], cert));
  EXPECT_TRUE(MatchesExtended(ParseFilter("S_OU=Retail Banking")[0], cert));
  EXPECT_FALSE(MatchesExtended(ParseFilter("S_OU=Retail")[0], cert));
}

}  // namespace
