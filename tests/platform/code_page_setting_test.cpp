// The stand-in's ANSI code page: Big5 (950) as on a Traditional Chinese
// Windows, unless KORVESSA_CODEPAGE names another (a setting Windows has not).
#include <windows.h>

#include <gtest/gtest.h>

#include "support/temp_home.h"

namespace {

TEST(CodePages, AnsiIs950UnlessConfigured) {
  kv::test::ScopedEnv unset("KORVESSA_CODEPAGE", nullptr);
  EXPECT_EQ(GetACP(), 950u);
  kv::test::ScopedEnv utf8("KORVESSA_CODEPAGE", "65001");
  EXPECT_EQ(GetACP(), 65001u);
}

}  // namespace
