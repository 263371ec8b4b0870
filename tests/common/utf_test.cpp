// The shared UTF-8 <-> UTF-16 codec: what it refuses, what it replaces, and
// that every scalar value round-trips.
#include <gtest/gtest.h>

#include <string>

#include "kvcommon/utf.h"
#include "support/temp_home.h"

namespace {

class Utf : public kv::test::HomeTest {};

TEST_F(Utf, StrictDecodingRefusesWhatIsNotUtf8) {
  const char* bad[] = {
      "\x80",              // stray continuation byte
      "\xC0\x80",          // overlong NUL
      "\xC1\xBF",          // overlong
      "\xE0\x9F\xBF",      // overlong three-byte form
      "\xF0\x8F\xBF\xBF",  // overlong four-byte form
      "\xED\xA0\x80",      // encoded high surrogate
      "\xED\xBF\xBF",      // encoded low surrogate
      "\xED\xA0\xBD\xED\xB8\x80",  // a pair written as two three-byte forms
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xF5\x80\x80\x80",  // lead byte that cannot occur
      "\xFF",
      "a\xE4\xB8",         // truncated at the end
      "\xE4\xB8" "a",      // continuation missing in the middle
      "\xF0\x9F\x98",      // truncated four-byte form
  };
  for (const char* text : bad) {
    std::u16string out = u"kept";
    EXPECT_FALSE(kv::Utf8ToUtf16(text, &out)) << text;
    EXPECT_EQ(u"kept", out) << "a refused text leaves the output alone";
    EXPECT_EQ(0u, kv::Utf8SequenceLength(std::string(text).substr(text[0] == 'a' ? 1 : 0)));
  }
}

TEST_F(Utf, StrictDecodingAcceptsTheBoundaries) {
  std::u16string out;
  ASSERT_TRUE(kv::Utf8ToUtf16(std::string("a\0b", 3), &out));
  EXPECT_EQ(std::u16string(u"a\0b", 3), out) << "embedded zeros pass";
  ASSERT_TRUE(kv::Utf8ToUtf16("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", &out));
  EXPECT_EQ(u"\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFF", out);
  ASSERT_TRUE(kv::Utf8ToUtf16("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", &out));
  EXPECT_EQ((std::u16string{0xD800, 0xDC00, 0xDBFF, 0xDFFF}), out);
  ASSERT_TRUE(kv::Utf8ToUtf16("", &out));
  EXPECT_TRUE(out.empty());
}

TEST_F(Utf, LossyDecodingReplacesEachBadByte) {
  // Each byte that does not start a well-formed sequence is one U+FFFD.
  EXPECT_EQ(u"a\uFFFDb", kv::Utf8ToUtf16Lossy("a\xFF" "b"));
  EXPECT_EQ(u"\uFFFD\uFFFD", kv::Utf8ToUtf16Lossy("\xE4\xB8"));
  EXPECT_EQ(u"\uFFFD\uFFFD\uFFFD", kv::Utf8ToUtf16Lossy("\xED\xA0\x80"));
  EXPECT_EQ(u"\uFFFD\uFFFD\u4E2D", kv::Utf8ToUtf16Lossy("\xC0\x80\xE4\xB8\xAD"));
  EXPECT_EQ(u"中文", kv::Utf8ToUtf16Lossy("中文"));
}

TEST_F(Utf, LoneSurrogatesEncodeAsReplacement) {
  const std::u16string lone[] = {
      {0xD800}, {0xDC00}, {u'a', 0xD83D}, {0xDE00, u'b'}, {0xDC00, 0xD800},
  };
  const char* expected[] = {"\xEF\xBF\xBD", "\xEF\xBF\xBD", "a\xEF\xBF\xBD", "\xEF\xBF\xBD" "b",
                            "\xEF\xBF\xBD\xEF\xBF\xBD"};
  for (size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i) {
    std::string utf8 = kv::Utf16ToUtf8(lone[i]);
    EXPECT_EQ(expected[i], utf8) << i;
    std::u16string back;
    EXPECT_TRUE(kv::Utf8ToUtf16(utf8, &back)) << "what the codec writes is always well-formed";
  }
  EXPECT_EQ("\xF0\x9F\x98\x80", kv::Utf16ToUtf8(std::u16string{0xD83D, 0xDE00}));
}

TEST_F(Utf, EveryScalarValueRoundTrips) {
  std::u16string all;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp)
    if (cp < 0xD800 || cp > 0xDFFF) kv::AppendUtf16(cp, &all);
  const std::string utf8 = kv::Utf16ToUtf8(all);
  std::u16string back;
  ASSERT_TRUE(kv::Utf8ToUtf16(utf8, &back));
  EXPECT_TRUE(back == all);
  EXPECT_TRUE(kv::Utf8ToUtf16Lossy(utf8) == all);
  // 128 one-byte, 1920 two-byte, 61440 three-byte and 1048576 four-byte forms.
  EXPECT_EQ(128u + 1920u * 2 + 61440u * 3 + 1048576u * 4, utf8.size());
}

}  // namespace
