// Enrolment through the library's exports and the command-line host: the
// request is made through the exported functions in this process, and a
// separate korvessa process accepts the certificate and signs with the key.
#include <gtest/gtest.h>

#include <sstream>

#include "keys/enrol_test_support.h"
#include "sign/sign_test_support.h"
#include "support/library_exports.h"

namespace {

using namespace kv::test;

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

TEST_F(EnrolTest, ExportsRequestAndAnotherProcessAcceptsAndSigns) {
  auto create = Export<BSTR (*)(LPCWSTR, LONG, LONG)>("CreatePKCS10");
  auto pair = Export<LONG (*)(LPCWSTR, LONG, LONG)>("CreatePKCS10Pair");
  auto forSign = Export<BSTR (*)()>("GetCsrForSign");
  auto errorCode = Export<LONG (*)()>("GetErrorCode");
  ASSERT_TRUE(create && pair && forSign && errorCode);

  EXPECT_EQ(ERR_KEY_LENGTH, pair(u"Export User", 512, 0));
  std::string request = Utf8(TakeLibraryString(create(u"Export User", 1024, 0)));
  ASSERT_EQ(0, errorCode());
  EXPECT_EQ(request, Utf8(TakeLibraryString(forSign())));
  // A null name reads as empty.
  EXPECT_EQ(u"", TakeLibraryString(create(nullptr, 1024, 0)));
  EXPECT_EQ(ERR_BAD_PARAM, errorCode());

  OpenSslCa ca(folder_.path());
  std::string issued = ca.Issue(request);
  ASSERT_FALSE(issued.empty());
  std::string bundle = ca.Bundle({ca.root().Pem(), ca.intermediate().Pem(), issued});
  std::string calls = folder_.path() + "/calls.jsonl";
  WriteFile(calls, "{\"call\": \"AcceptPKCS7\", \"args\": [\"" + bundle + "\"]}\n"
                   "{\"call\": \"SelectSigner\", \"args\": [\"S_CN=Export User\", 256, 0]}\n"
                   "{\"call\": \"SignPkcs7\", \"args\": [\"Sell 1101 x 3\", 512]}\n");
  std::string out;
  // The other process asks before trusting the root; the user agrees.
  ScriptedDialogs trustRoot(R"([{"dialog": 209, "press": 1}])");
  ASSERT_EQ(0, RunCommand("'" + std::string(KV_HOST_PATH) + "' --batch <'" + calls + "'", &out)) << out;
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(3u, lines.size()) << out;
  EXPECT_NE(std::string::npos, lines[0].find("\"result\": 0,")) << lines[0];
  EXPECT_NE(std::string::npos, lines[1].find("\"result\": 0,")) << lines[1];
  size_t start = lines[2].find("\"result\": \"");
  ASSERT_NE(std::string::npos, start) << lines[2];
  start += 11;
  std::string p7 = lines[2].substr(start, lines[2].find('"', start) - start);
  CmsResult verified = VerifyCms(p7, ca.root());
  EXPECT_TRUE(verified.verified) << verified.error;
}

}  // namespace
