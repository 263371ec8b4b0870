// Environment variables with the Windows size rules and last errors.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/temp_home.h"

namespace {

constexpr DWORD kUntouched = 0xdeadbeef;

TEST(Environment, VariablesWithTheWindowsSizeRules) {
  kv::test::ScopedEnv set("KV_TEST_VARIABLE", "value");
  char buffer[16] = {};
  SetLastError(kUntouched);
  EXPECT_EQ(GetEnvironmentVariableA("KV_TEST_VARIABLE", buffer, sizeof buffer), 5u);
  EXPECT_STREQ(buffer, "value");
  EXPECT_EQ(GetLastError(), kUntouched);
  // Too small, by one: the size needed with the terminator.
  EXPECT_EQ(GetEnvironmentVariableA("KV_TEST_VARIABLE", buffer, 5), 6u);
  EXPECT_EQ(GetEnvironmentVariableA("KV_TEST_VARIABLE", nullptr, 0), 6u);
  EXPECT_EQ(GetEnvironmentVariableA("kv_test_variable", buffer, sizeof buffer), 5u) << "names ignore case";
  SetLastError(kUntouched);
  EXPECT_EQ(GetEnvironmentVariableA("KV_TEST_UNSET_VARIABLE", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));

  EXPECT_TRUE(SetEnvironmentVariableA("KV_TEST_VARIABLE", "other"));
  EXPECT_EQ(GetEnvironmentVariableA("KV_TEST_VARIABLE", buffer, sizeof buffer), 5u);
  EXPECT_STREQ(buffer, "other");
  EXPECT_TRUE(SetEnvironmentVariableA("KV_TEST_VARIABLE", nullptr));
  SetLastError(kUntouched);
  EXPECT_EQ(GetEnvironmentVariableA("KV_TEST_VARIABLE", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_FALSE(SetEnvironmentVariableA("A=B", "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
