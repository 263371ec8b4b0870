// Code pages, BSTRs and the last error, checked as Windows behaves.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vocabulary/text.h"
#include "support/temp_home.h"

namespace {

TEST(CodePages, Big5TrailBackslashRoundTrips) {
  kv::test::ScopedEnv cp("KORVESSA_CODEPAGE", nullptr);
  const char big5[] = "\xA5\x5C\xAF\xE0";  // 功能
  WCHAR wide[8] = {};
  SetLastError(0xdeadbeef);
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, big5, -1, wide, 8), 3);
  EXPECT_EQ(wide[0], 0x529F);
  EXPECT_EQ(wide[1], 0x80FD);
  EXPECT_EQ(wide[2], 0);
  char back[8] = {};
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, back, 8, nullptr, nullptr), 5);
  EXPECT_STREQ(back, big5);
  EXPECT_EQ(kv::FindLastBackslash(std::string("a\\") + big5), 1u);
  EXPECT_EQ(kv::FindBackslash(big5), std::string::npos);
}

TEST(CodePages, SizeQueryAndShortBuffer) {
  WCHAR out[2];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, out, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, out, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CodePages, UnmappableCharactersUseDefault) {
  kv::test::ScopedEnv cp("KORVESSA_CODEPAGE", nullptr);
  const WCHAR text[] = {u'a', 0x0101 /* ā, not in Big5 */, u'b', 0};
  char out[8] = {};
  BOOL used = FALSE;
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, 8, nullptr, &used), 4);
  EXPECT_STREQ(out, "a?b");
  EXPECT_TRUE(used);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3", 1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(Bstr, LayoutHasLengthPrefixAndTerminator) {
  const WCHAR text[] = {u'h', u'i', 0};
  BSTR b = SysAllocString(text);
  ASSERT_NE(b, nullptr);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<BYTE*>(b) - 4, 4);
  EXPECT_EQ(prefix, 4u);
  EXPECT_EQ(SysStringLen(b), 2u);
  EXPECT_EQ(b[2], 0);
  SysFreeString(b);
  SysFreeString(nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  BSTR empty = SysAllocStringLen(nullptr, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);
}

}  // namespace
