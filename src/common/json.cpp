// Strict recursive-descent JSON reader (depth- and count-limited) and the
// string writer.
#include "kvcommon/json.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kvcommon/utf.h"

namespace kv::json {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  // True when only blanks are left.
  bool AtEnd() {
    SkipBlanks();
    return pos_ >= text_.size();
  }

  // One value, after any blanks; each top-level value has its own count.
  bool ParseTopLevel(Value* out) {
    SkipBlanks();
    values_ = 0;
    return ParseValue(out, 0);
  }

  const std::string& error() const { return error_; }

  bool Fail(const char* why) {
    if (error_.empty()) error_ = std::string(why) + " at byte " + std::to_string(pos_);
    return false;
  }

 private:
  bool Done() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }

  void SkipBlanks() {
    while (!Done() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++pos_;
  }

  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return Fail("unknown literal");
    pos_ += word.size();
    return true;
  }

  bool ParseValue(Value* out, int depth) {
    if (Done()) return Fail("unexpected end of input");
    if (++values_ > kMaxValues) return Fail("too many values");
    switch (Peek()) {
      case '{':
        return ParseObject(out, depth + 1);
      case '[':
        return ParseArray(out, depth + 1);
      case '"':
        out->kind = Value::Kind::kString;
        return ParseString(&out->string);
      case 't':
        out->kind = Value::Kind::kBool;
        out->boolean = true;
        return Literal("true");
      case 'f':
        out->kind = Value::Kind::kBool;
        out->boolean = false;
        return Literal("false");
      case 'n':
        out->kind = Value::Kind::kNull;
        return Literal("null");
      default:
        if (Peek() == '-' || IsDigit(Peek())) return ParseNumber(out);
        return Fail("unexpected character");
    }
  }

  // After an element of an array or object: true with *more set when a ','
  // follows, true with *more clear at `close`.
  bool Separator(char close, const char* unterminated, const char* expected, bool* more) {
    SkipBlanks();
    if (Done()) return Fail(unterminated);
    if (Peek() != ',' && Peek() != close) return Fail(expected);
    *more = Peek() == ',';
    ++pos_;
    return true;
  }

  // The opening bracket: false for an empty container (consumed).
  bool Opens(char close) {
    ++pos_;
    SkipBlanks();
    if (!Done() && Peek() == close) {
      ++pos_;
      return false;
    }
    return true;
  }

  bool ParseObject(Value* out, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    out->kind = Value::Kind::kObject;
    if (!Opens('}')) return true;
    for (bool more = true; more;) {
      SkipBlanks();
      if (Done() || Peek() != '"') return Fail("expected a member name");
      std::u16string key;
      if (!ParseString(&key)) return false;
      SkipBlanks();
      if (Done() || Peek() != ':') return Fail("expected ':'");
      ++pos_;
      SkipBlanks();
      Value value;
      if (!ParseValue(&value, depth)) return false;
      out->members.emplace_back(std::move(key), std::move(value));
      if (!Separator('}', "unterminated object", "expected ',' or '}'", &more)) return false;
    }
    return true;
  }

  bool ParseArray(Value* out, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    out->kind = Value::Kind::kArray;
    if (!Opens(']')) return true;
    for (bool more = true; more;) {
      SkipBlanks();
      Value value;
      if (!ParseValue(&value, depth)) return false;
      out->items.push_back(std::move(value));
      if (!Separator(']', "unterminated array", "expected ',' or ']'", &more)) return false;
    }
    return true;
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  bool ParseHex4(char16_t* unit) {
    if (text_.size() - pos_ < 4) return Fail("truncated \\u escape");
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
      const int d = HexDigit(text_[pos_ + k]);
      if (d < 0) return Fail("bad \\u escape");
      v = (v << 4) | static_cast<unsigned>(d);
    }
    pos_ += 4;
    *unit = static_cast<char16_t>(v);
    return true;
  }

  bool ParseEscape(std::u16string* out) {
    if (Done()) return Fail("unterminated escape");
    const char e = Peek();
    ++pos_;
    switch (e) {
      case '"': out->push_back(u'"'); return true;
      case '\\': out->push_back(u'\\'); return true;
      case '/': out->push_back(u'/'); return true;
      case 'b': out->push_back(u'\b'); return true;
      case 'f': out->push_back(u'\f'); return true;
      case 'n': out->push_back(u'\n'); return true;
      case 'r': out->push_back(u'\r'); return true;
      case 't': out->push_back(u'\t'); return true;
      case 'u': {
        // A pair written as two escapes joins by itself in UTF-16; a lone
        // half stays as it is.
        char16_t unit = 0;
        if (!ParseHex4(&unit)) return false;
        out->push_back(unit);
        return true;
      }
      default:
        --pos_;
        return Fail("unknown escape");
    }
  }

  bool ParseString(std::u16string* out) {
    ++pos_;  // opening quote
    out->clear();
    for (;;) {
      if (Done()) return Fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(Peek());
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return Fail("control character in string");
      if (c == '\\') {
        ++pos_;
        if (!ParseEscape(out)) return false;
        continue;
      }
      if (c < 0x80) {
        out->push_back(static_cast<char16_t>(c));
        ++pos_;
        continue;
      }
      const size_t len = Utf8SequenceLength(text_.substr(pos_));
      if (len == 0) return Fail("invalid UTF-8");
      std::u16string units;
      Utf8ToUtf16(text_.substr(pos_, len), &units);
      out->append(units);
      pos_ += len;
    }
  }

  void SkipDigits() {
    while (!Done() && IsDigit(Peek())) ++pos_;
  }

  bool ParseNumber(Value* out) {
    out->kind = Value::Kind::kNumber;
    const size_t start = pos_;
    bool negative = false;
    if (Peek() == '-') {
      negative = true;
      ++pos_;
    }
    if (Done() || !IsDigit(Peek())) return Fail("bad number");
    bool fits = true;
    uint64_t magnitude = 0;
    if (Peek() == '0') {
      ++pos_;
      if (!Done() && IsDigit(Peek())) return Fail("leading zero in number");
    } else {
      while (!Done() && IsDigit(Peek())) {
        const unsigned d = static_cast<unsigned>(Peek() - '0');
        if (magnitude > (UINT64_MAX - d) / 10) fits = false;
        if (fits) magnitude = magnitude * 10 + d;
        ++pos_;
      }
    }
    bool integral = true;
    if (!Done() && Peek() == '.') {
      integral = false;
      ++pos_;
      if (Done() || !IsDigit(Peek())) return Fail("bad fraction");
      SkipDigits();
    }
    if (!Done() && (Peek() == 'e' || Peek() == 'E')) {
      integral = false;
      ++pos_;
      if (!Done() && (Peek() == '+' || Peek() == '-')) ++pos_;
      if (Done() || !IsDigit(Peek())) return Fail("bad exponent");
      SkipDigits();
    }
    const uint64_t limit = negative ? static_cast<uint64_t>(INT64_MAX) + 1 : static_cast<uint64_t>(INT64_MAX);
    out->isInteger = integral && fits && magnitude <= limit;
    if (out->isInteger)
      out->integer = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    out->number = std::strtod(std::string(text_.substr(start, pos_ - start)).c_str(), nullptr);
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
  size_t values_ = 0;
  std::string error_;
};

std::u16string Wide(std::string_view utf8) { return Utf8ToUtf16Lossy(utf8); }

}  // namespace

const Value* Value::Find(std::string_view name) const {
  const std::u16string wanted = Wide(name);
  for (const auto& m : members)
    if (m.first == wanted) return &m.second;
  return nullptr;
}

size_t Value::Count(std::string_view name) const {
  const std::u16string wanted = Wide(name);
  size_t n = 0;
  for (const auto& m : members)
    if (m.first == wanted) ++n;
  return n;
}

std::string Value::Utf8() const { return Utf16ToUtf8(string); }

bool Value::AsInt(int* out) const {
  if (kind == Kind::kNumber) {
    if (std::floor(number) != number || number < -2147483648.0 || number > 2147483647.0) return false;
    *out = static_cast<int>(number);
    return true;
  }
  if (kind == Kind::kString && !string.empty()) {
    const std::string digits = Utf8();
    char* end = nullptr;
    const long n = std::strtol(digits.c_str(), &end, 10);
    if (*end != '\0' || n < -2147483647L - 1 || n > 2147483647L) return false;
    *out = static_cast<int>(n);
    return true;
  }
  return false;
}

bool Parse(std::string_view text, Value* out, std::string* error) {
  Parser parser(text);
  Value value;
  const bool ok = parser.ParseTopLevel(&value) && (parser.AtEnd() || parser.Fail("unexpected text after the value"));
  if (!ok) {
    if (error) *error = parser.error();
    return false;
  }
  *out = std::move(value);
  return true;
}

bool ParseSequence(std::string_view text, std::vector<Value>* values, std::string* error) {
  values->clear();
  Parser parser(text);
  while (!parser.AtEnd()) {
    Value v;
    if (!parser.ParseTopLevel(&v)) {
      if (error) *error = parser.error();
      values->clear();
      return false;
    }
    values->push_back(std::move(v));
  }
  return true;
}

void AppendQuoted(std::u16string_view text, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    switch (u) {
      case u'"': out->append("\\\""); continue;
      case u'\\': out->append("\\\\"); continue;
      case u'\n': out->append("\\n"); continue;
      case u'\r': out->append("\\r"); continue;
      case u'\t': out->append("\\t"); continue;
      case u'\b': out->append("\\b"); continue;
      case u'\f': out->append("\\f"); continue;
      default: break;
    }
    if (IsSurrogatePair(text, i)) {
      AppendUtf8(JoinSurrogates(text, i), out);
      ++i;
    } else if (u < 0x20 || u == 0x7F || (u >= 0xD800 && u <= 0xDFFF)) {
      out->append("\\u");
      for (int shift = 12; shift >= 0; shift -= 4) out->push_back(kHex[(u >> shift) & 0xF]);
    } else {
      AppendUtf8(u, out);
    }
  }
  out->push_back('"');
}

void AppendQuoted(std::string_view utf8, std::string* out) { AppendQuoted(Utf8ToUtf16Lossy(utf8), out); }

std::string Quote(std::string_view utf8) {
  std::string out;
  AppendQuoted(utf8, &out);
  return out;
}

std::string Quote(std::u16string_view text) {
  std::string out;
  AppendQuoted(text, &out);
  return out;
}

}  // namespace kv::json
