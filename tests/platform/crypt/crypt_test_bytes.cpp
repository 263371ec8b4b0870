// The helpers of crypt_test_support.h that need no OpenSSL, so the Windows
// build of the platform tests has them too.
#include "platform/crypt/crypt_test_support.h"

#include <gtest/gtest.h>

namespace kv::test::crypt {

DWORD Permissions(HCRYPTKEY key) {
  DWORD value = 0xdeadbeef, len = sizeof(value);
  EXPECT_TRUE(CryptGetKeyParam(key, KP_PERMISSIONS, reinterpret_cast<BYTE*>(&value), &len, 0));
  return value;
}

std::vector<BYTE> EncodeObject(LPCSTR type, const void* info) {
  const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  DWORD size = 0;
  EXPECT_TRUE(CryptEncodeObject(encoding, type, info, nullptr, &size));
  std::vector<BYTE> out(size);
  EXPECT_TRUE(CryptEncodeObject(encoding, type, info, out.data(), &size));
  out.resize(size);
  return out;
}

std::vector<BYTE> Bytes(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }

std::string Hex(const std::vector<BYTE>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (BYTE b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

std::vector<BYTE> Reversed(std::vector<BYTE> bytes) { return std::vector<BYTE>(bytes.rbegin(), bytes.rend()); }

}  // namespace kv::test::crypt
