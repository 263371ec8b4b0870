// The site lock's origin rules: what a page's URL gives as its origin, and
// which allow-list entries match it.
#include "host/site_origin.h"

#include <gtest/gtest.h>

namespace {

std::basic_string<WCHAR> W(const char* text) {
  std::basic_string<WCHAR> out;
  for (const char* p = text; *p; ++p) out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*p)));
  return out;
}

bool Allowed(const char* url, const char* entry) {
  kv::SiteOrigin origin;
  return kv::ParseDocumentOrigin(W(url), &origin) && kv::OriginMatchesEntry(origin, W(entry));
}

TEST(SiteOrigin, ParsesSchemeHostAndDefaultPort) {
  kv::SiteOrigin o;
  ASSERT_TRUE(kv::ParseDocumentOrigin(W("HTTPS://Trade.Example.com.tw/a?b#c"), &o));
  EXPECT_EQ(o.scheme, "https");
  EXPECT_EQ(o.host, "trade.example.com.tw");
  EXPECT_EQ(o.port, 443);
  ASSERT_TRUE(kv::ParseDocumentOrigin(W("http://[::1]:8080/"), &o));
  EXPECT_EQ(o.host, "[::1]");
  EXPECT_EQ(o.port, 8080);
}

TEST(SiteOrigin, PagesWithoutAnOriginAreRejected) {
  kv::SiteOrigin o;
  for (const char* url : {"file:///C:/x.html", "about:blank", "javascript:alert(1)", "https://", "https://a..b/",
                          "https://host:0/", "https://host:70000/", "https://ho%73t/", "https://host./",
                          "res://ieframe.dll/"})
    EXPECT_FALSE(kv::ParseDocumentOrigin(W(url), &o)) << url;
  std::basic_string<WCHAR> lookalike = W("https://tr");
  lookalike.push_back(static_cast<WCHAR>(0x0430));  // Cyrillic a
  lookalike += W("de.example.com.tw/");
  EXPECT_FALSE(kv::ParseDocumentOrigin(lookalike, &o));
}

TEST(SiteOrigin, ControlCharactersHideNothingBehindThem) {
  std::basic_string<WCHAR> nul = W("http://127.0.0.1:8080");
  nul.push_back(0);
  nul += W(".evil.example");
  kv::SiteOrigin o;
  EXPECT_FALSE(kv::ParseDocumentOrigin(nul, &o));
  EXPECT_FALSE(kv::IsPrintableAsciiOrigin(nul));
  for (const char* url : {"https://trade.example.com.tw\t/", "https://trade.example.com.tw/a\nb", "https://x\x7f.tw/"})
    EXPECT_FALSE(kv::ParseDocumentOrigin(W(url), &o)) << url;
  EXPECT_FALSE(Allowed("https://trade.example.com.tw/", "https://trade.example.com.tw/\r"));

  EXPECT_TRUE(kv::IsPrintableAsciiOrigin(W("http://127.0.0.1:8080")));
  std::basic_string<WCHAR> accented = W("https://caf");
  accented.push_back(0x00e9);
  for (const std::basic_string<WCHAR>& text : {W(""), W("http://a.tw "), W("http://a.tw\t"), W("http://a\x7f.tw"), accented})
    EXPECT_FALSE(kv::IsPrintableAsciiOrigin(text));
}

TEST(SiteOrigin, ExactEntriesMatchOnlyTheirOrigin) {
  EXPECT_TRUE(Allowed("https://trade.example.com.tw/login", "https://trade.example.com.tw"));
  EXPECT_TRUE(Allowed("https://trade.example.com.tw:443/", "https://TRADE.example.com.tw/"));
  EXPECT_FALSE(Allowed("http://trade.example.com.tw/", "https://trade.example.com.tw"));
  EXPECT_FALSE(Allowed("https://trade.example.com.tw:8443/", "https://trade.example.com.tw"));
  EXPECT_FALSE(Allowed("https://trade.example.com.tw.evil.net/", "https://trade.example.com.tw"));
  EXPECT_FALSE(Allowed("https://eviltrade.example.com.tw/", "https://trade.example.com.tw"));
}

TEST(SiteOrigin, PlainHttpIsAdmittedForThisComputerOnlyAndOtherEntriesSayWhy) {
  struct Case {
    const char* page;
    const char* entry;
    bool allowed;
  };
  for (const Case& c : {Case{"http://localhost:8080/", "http://localhost:8080", true},
                        Case{"http://127.0.0.2/", "http://127.0.0.2", true},
                        Case{"http://[::1]:3000/", "http://[::1]:3000", true},
                        Case{"http://trade.example.com.tw/", "http://trade.example.com.tw", false},
                        Case{"http://127.0.0.1.evil.net/", "http://127.0.0.1.evil.net", false},
                        Case{"http://a.example.com.tw/", "http://*.example.com.tw", false}}) {
    EXPECT_EQ(c.allowed, Allowed(c.page, c.entry)) << c.entry;
    EXPECT_EQ(c.allowed, kv::EntryProblem(W(c.entry)).empty()) << c.entry;
  }
  EXPECT_NE(std::string::npos, kv::EntryProblem(W("http://trade.example.com.tw:8080/")).find("https://trade.example.com.tw"));
  EXPECT_TRUE(kv::EntryProblem(W("https://trade.example.com.tw")).empty());
}

TEST(SiteOrigin, UserInfoAndBackslashesDoNotHideTheHost) {
  EXPECT_FALSE(Allowed("https://trade.example.com.tw@evil.net/", "https://trade.example.com.tw"));
  EXPECT_TRUE(Allowed("https://evil.net@trade.example.com.tw/", "https://trade.example.com.tw"));
  EXPECT_FALSE(Allowed("https://evil.net\\@trade.example.com.tw/", "https://trade.example.com.tw"));
}

TEST(SiteOrigin, WildcardsCoverSubdomainsOnly) {
  EXPECT_TRUE(Allowed("https://a.example.com.tw/", "https://*.example.com.tw"));
  EXPECT_TRUE(Allowed("https://a.b.example.com.tw/", "https://*.example.com.tw"));
  EXPECT_FALSE(Allowed("https://example.com.tw/", "https://*.example.com.tw"));
  EXPECT_FALSE(Allowed("https://badexample.com.tw/", "https://*.example.com.tw"));
  EXPECT_FALSE(Allowed("https://a.example.tw/", "https://*.tw"));
  EXPECT_TRUE(Allowed("https://a.example.com.tw:8443/", "https://*.example.com.tw:8443"));
  EXPECT_FALSE(Allowed("https://a.example.com.tw/", "https://*.example.com.tw:8443"));
}

TEST(SiteOrigin, MalformedEntriesMatchNothing) {
  for (const char* entry : {"", "trade.example.com.tw", "https://", "https://*", "https://user@trade.example.com.tw",
                            "ftp://trade.example.com.tw", "https://trade.example.com.tw:x"})
    EXPECT_FALSE(Allowed("https://trade.example.com.tw/", entry)) << entry;
}

}  // namespace
