// The shared JSON reader and string writer: strictness, limits, lone
// surrogates carried as UTF-16, and round trips through the writer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvcommon/json.h"
#include "support/temp_home.h"

namespace {

using kv::json::Value;

class Json : public kv::test::HomeTest {
 protected:
  // The error of a text that must not parse (empty when it parses).
  static std::string Refusal(const std::string& text) {
    Value v;
    v.kind = Value::Kind::kBool;
    std::string error;
    if (kv::json::Parse(text, &v, &error)) return "";
    EXPECT_EQ(Value::Kind::kBool, v.kind) << "a refused text leaves the output alone";
    return error;
  }
};

TEST_F(Json, ReadsEveryKind) {
  Value v;
  std::string error;
  ASSERT_TRUE(kv::json::Parse(
      " {\"a\": [1, -2.5e1, true, false, null, \"\\u4e2d\\ud83d\\ude00\\n\\/\\b\\f\\r\\t\\\"\\\\\"], \"b\": {}} ", &v,
      &error))
      << error;
  ASSERT_EQ(Value::Kind::kObject, v.kind);
  const Value* a = v.Find("a");
  ASSERT_NE(nullptr, a);
  ASSERT_EQ(6u, a->items.size());
  EXPECT_TRUE(a->items[0].isInteger);
  EXPECT_EQ(1, a->items[0].integer);
  EXPECT_FALSE(a->items[1].isInteger);
  EXPECT_EQ(-25.0, a->items[1].number);
  EXPECT_TRUE(a->items[2].boolean);
  EXPECT_EQ(Value::Kind::kBool, a->items[3].kind);
  EXPECT_FALSE(a->items[3].boolean);
  EXPECT_EQ(Value::Kind::kNull, a->items[4].kind);
  EXPECT_EQ(u"中\U0001F600\n/\b\f\r\t\"\\", a->items[5].string);
  EXPECT_EQ("中\xF0\x9F\x98\x80\n/\b\f\r\t\"\\", a->items[5].Utf8());
  EXPECT_EQ(Value::Kind::kObject, v.Find("b")->kind);
  EXPECT_EQ(nullptr, v.Find("c"));
  EXPECT_EQ(nullptr, a->Find("a")) << "an array has no members";
}

TEST_F(Json, CarriesLoneSurrogates) {
  Value v;
  std::string error;
  ASSERT_TRUE(kv::json::Parse("[\"\\ud800\", \"x\\uDC00y\", \"\\ude00\\ud83d\"]", &v, &error)) << error;
  EXPECT_EQ(std::u16string{0xD800}, v.items[0].string);
  EXPECT_EQ((std::u16string{u'x', 0xDC00, u'y'}), v.items[1].string);
  EXPECT_EQ((std::u16string{0xDE00, 0xD83D}), v.items[2].string) << "halves in the wrong order stay apart";
  EXPECT_EQ("\xEF\xBF\xBD", v.items[0].Utf8());
  // The writer gives them back as escapes, so they survive the round trip.
  std::string out;
  kv::json::AppendQuoted(v.items[1].string, &out);
  EXPECT_EQ("\"x\\udc00y\"", out);
}

TEST_F(Json, IntegersAndTheirLimits) {
  Value v;
  std::string error;
  ASSERT_TRUE(kv::json::Parse("[9223372036854775807, -9223372036854775808, 9223372036854775808, "
                              "-9223372036854775809, 18446744073709551616, 0, -0, 1e2, 1.0]",
                              &v, &error))
      << error;
  EXPECT_TRUE(v.items[0].isInteger);
  EXPECT_EQ(INT64_MAX, v.items[0].integer);
  EXPECT_TRUE(v.items[1].isInteger);
  EXPECT_EQ(INT64_MIN, v.items[1].integer);
  for (size_t i : {2u, 3u, 4u, 7u, 8u}) EXPECT_FALSE(v.items[i].isInteger) << i;
  EXPECT_TRUE(v.items[5].isInteger);
  EXPECT_TRUE(v.items[6].isInteger);
  EXPECT_EQ(0, v.items[6].integer);
  int n = 0;
  EXPECT_TRUE(v.items[7].AsInt(&n)) << "a whole number written with an exponent is still an answer's integer";
  EXPECT_EQ(100, n);
  EXPECT_FALSE(v.items[0].AsInt(&n));
  Value s;
  s.kind = Value::Kind::kString;
  s.string = u"302";
  EXPECT_TRUE(s.AsInt(&n));
  EXPECT_EQ(302, n);
  for (const char16_t* text : {u"30x", u"", u"2147483648", u"1.5"}) {
    s.string = text;
    EXPECT_FALSE(s.AsInt(&n));
  }
}

TEST_F(Json, RefusesMalformedText) {
  const struct {
    const char* text;
    const char* why;
  } cases[] = {
      {"", "unexpected end of input at byte 0"},
      {"   ", "unexpected end of input at byte 3"},
      {"{", "expected a member name at byte 1"},
      {"[1,]", "unexpected character at byte 3"},
      {"[1 2]", "expected ',' or ']' at byte 3"},
      {"[1", "unterminated array at byte 2"},
      {"{\"a\" 1}", "expected ':' at byte 5"},
      {"{\"a\":1", "unterminated object at byte 6"},
      {"{\"a\":1 \"b\":2}", "expected ',' or '}' at byte 7"},
      {"{1:2}", "expected a member name at byte 1"},
      {"01", "leading zero in number at byte 1"},
      {"-", "bad number at byte 1"},
      {"1.", "bad fraction at byte 2"},
      {"1e", "bad exponent at byte 2"},
      {"+1", "unexpected character at byte 0"},
      {"tru", "unknown literal at byte 0"},
      {"nul1", "unknown literal at byte 0"},
      {"1 2", "unexpected text after the value at byte 2"},
      {"\"abc", "unterminated string at byte 4"},
      {"\"\x01\"", "control character in string at byte 1"},
      {"\"\\x\"", "unknown escape at byte 2"},
      {"\"\\", "unterminated escape at byte 2"},
      {"\"\\u12\"]", "bad \\u escape at byte 3"},
      {"\"\\u12\"", "truncated \\u escape at byte 3"},
      {"\"\\u12g4\"", "bad \\u escape at byte 3"},
      {"\"\xFF\"", "invalid UTF-8 at byte 1"},
      {"\"\xED\xA0\x80\"", "invalid UTF-8 at byte 1"},
      {"\"\xC0\xAF\"", "invalid UTF-8 at byte 1"},
      {"\"\xE4\xB8\"", "invalid UTF-8 at byte 1"},
      {"'a'", "unexpected character at byte 0"},
      {"[1,]x", "unexpected character at byte 3"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.why, Refusal(c.text)) << c.text;
}

TEST_F(Json, BoundsNestingAndValueCount) {
  const int limit = kv::json::kMaxDepth;
  EXPECT_EQ("", Refusal(std::string(limit, '[') + std::string(limit, ']')));
  EXPECT_EQ("nesting too deep at byte " + std::to_string(limit),
            Refusal(std::string(limit + 1, '[') + std::string(limit + 1, ']')));
  EXPECT_NE("", Refusal(std::string(100000, '{')));

  std::string many = "[";
  for (size_t i = 1; i < kv::json::kMaxValues - 1; ++i) many += "1,";
  many += "1]";  // the array and its elements: exactly the cap
  EXPECT_EQ("", Refusal(many));
  many.insert(1, "1,");
  EXPECT_NE(std::string::npos, Refusal(many).find("too many values"));

  // The cap is per top-level value: a long sequence of small values reads.
  std::string lines;
  for (size_t i = 0; i < kv::json::kMaxValues * 2; ++i) lines += "{\"dialog\": 1}\n";
  std::vector<Value> values;
  std::string error;
  ASSERT_TRUE(kv::json::ParseSequence(lines, &values, &error)) << error;
  EXPECT_EQ(kv::json::kMaxValues * 2, values.size());
}

TEST_F(Json, SequencesAreAllOrNothing) {
  std::vector<Value> values;
  std::string error;
  ASSERT_TRUE(kv::json::ParseSequence("{\"a\":1}\n[2]\r\n\"x\" 3", &values, &error)) << error;
  ASSERT_EQ(4u, values.size());
  EXPECT_EQ(3, values[3].integer);
  ASSERT_TRUE(kv::json::ParseSequence(" \n ", &values, &error));
  EXPECT_TRUE(values.empty());
  EXPECT_FALSE(kv::json::ParseSequence("{\"a\":1}\n{\"b\":", &values, &error));
  EXPECT_TRUE(values.empty());
  EXPECT_EQ("unexpected end of input at byte 13", error);
}

TEST_F(Json, MembersByName) {
  Value v;
  std::string error;
  ASSERT_TRUE(kv::json::Parse("{\"call\": 1, \"call\": 2, \"名\": 3, \"\\u0063all\": 4}", &v, &error)) << error;
  EXPECT_EQ(3u, v.Count("call")) << "an escaped name is the same name";
  EXPECT_EQ(1, v.Find("call")->integer) << "the first one wins";
  EXPECT_EQ(3, v.Find("名")->integer);
  EXPECT_EQ(0u, v.Count("Call"));
}

TEST_F(Json, WriterEscapesAndRoundTrips) {
  EXPECT_EQ("\"a\\\"b\\\\c\\n\\u0001中\xEF\xBF\xBD\"", kv::json::Quote("a\"b\\c\n\x01中\xFF"));
  EXPECT_EQ("\"\\b\\f\\r\\t\\u007f\\u001f\"", kv::json::Quote("\b\f\r\t\x7F\x1F"));
  EXPECT_EQ("\"\xEF\xBF\xBD\xEF\xBF\xBD" "a\"", kv::json::Quote("\xE4\xB8" "a"));

  // Every 16-bit unit, paired or lone, survives writing and reading back.
  std::u16string all;
  for (char32_t u = 0; u <= 0xFFFF; ++u) all.push_back(static_cast<char16_t>(u));
  all += std::u16string{0xD83D, 0xDE00, 0xDBFF};
  std::string text;
  kv::json::AppendQuoted(all, &text);
  Value v;
  std::string error;
  ASSERT_TRUE(kv::json::Parse(text, &v, &error)) << error;
  EXPECT_TRUE(v.string == all);
}

}  // namespace
