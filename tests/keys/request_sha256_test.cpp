// Requests under the administrator's SHA-256 default: signed with
// sha256WithRSAEncryption (through the AES-capable provider, the request
// provider having no SHA-2) and verified by `openssl req`; SHA-1 without it.
#include <gtest/gtest.h>

#include "keys/enrol_test_support.h"
#include "sign/sign_test_support.h"
#include "support/machine_values.h"

namespace {

using namespace kv::test;

class RequestSha256Test : public EnrolTest {
 protected:
  RequestSha256Test() : machine_(home_.path()) {}

  void SetMachineDefault(DWORD value) { ASSERT_TRUE(machine_.SetDword("DefaultDigestSha256", value)); }
  void ExpectSignedWith(const std::string& request, const char* algorithm) {
    std::string text;
    ASSERT_FALSE(request.empty());
    EXPECT_TRUE(VerifyRequest(folder_.path(), request, &text)) << text;
    EXPECT_NE(std::string::npos, text.find(algorithm)) << text;
  }

  MachineValues machine_;
};

TEST_F(RequestSha256Test, MachineDefaultSignsRequestsWithSha256) {
  SetMachineDefault(0);
  ExpectSignedWith(Request("Before"), "sha1WithRSAEncryption");
  SetMachineDefault(1);
  ExpectSignedWith(Request("After"), "sha256WithRSAEncryption");
  ASSERT_EQ(0, engine_.CreatePKCS10Pair(Utf8Bstr("Pair"), 1024, 0));
  ExpectSignedWith(TakeText(engine_.GetCsrForSign()), "sha256WithRSAEncryption");
  ExpectSignedWith(TakeText(engine_.GetCsrForEncrypt()), "sha256WithRSAEncryption");
}

}  // namespace
