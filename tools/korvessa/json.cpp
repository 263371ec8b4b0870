// Strict recursive-descent JSON reader (depth-limited, so hostile input
// cannot exhaust the stack) and the string writer of the batch output.
#include "korvessa/json.h"

#include <cstring>

#include "korvessa/utf.h"

namespace korvessa {

namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool ParseDocument(JsonValue* out, std::string* error) {
    SkipBlanks();
    if (!ParseValue(out, 0)) {
      *error = error_;
      return false;
    }
    SkipBlanks();
    if (pos_ != text_.size()) {
      Fail("unexpected text after the value");
      *error = error_;
      return false;
    }
    return true;
  }

 private:
  bool Fail(const char* why) {
    if (error_.empty()) error_ = std::string(why) + " at byte " + std::to_string(pos_);
    return false;
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }

  void SkipBlanks() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++pos_;
  }

  bool Literal(const char* word) {
    size_t n = std::strlen(word);
    if (text_.compare(pos_, n, word) != 0) return Fail("unknown literal");
    pos_ += n;
    return true;
  }

  bool ParseValue(JsonValue* out, int depth) {
    if (AtEnd()) return Fail("unexpected end of input");
    if (++values_ > kMaxJsonValues) return Fail("too many values");
    switch (Peek()) {
      case '{':
        return ParseObject(out, depth + 1);
      case '[':
        return ParseArray(out, depth + 1);
      case '"':
        out->kind = JsonValue::Kind::kString;
        return ParseString(&out->string);
      case 't':
        out->kind = JsonValue::Kind::kBool;
        out->boolean = true;
        return Literal("true");
      case 'f':
        out->kind = JsonValue::Kind::kBool;
        out->boolean = false;
        return Literal("false");
      case 'n':
        out->kind = JsonValue::Kind::kNull;
        return Literal("null");
      default:
        if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) return ParseNumber(out);
        return Fail("unexpected character");
    }
  }

  bool ParseObject(JsonValue* out, int depth) {
    if (depth > kMaxJsonDepth) return Fail("nesting too deep");
    out->kind = JsonValue::Kind::kObject;
    ++pos_;  // '{'
    SkipBlanks();
    if (!AtEnd() && Peek() == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipBlanks();
      if (AtEnd() || Peek() != '"') return Fail("expected a member name");
      std::u16string key;
      if (!ParseString(&key)) return false;
      SkipBlanks();
      if (AtEnd() || Peek() != ':') return Fail("expected ':'");
      ++pos_;
      SkipBlanks();
      JsonValue value;
      if (!ParseValue(&value, depth)) return false;
      out->members.emplace_back(std::move(key), std::move(value));
      SkipBlanks();
      if (AtEnd()) return Fail("unterminated object");
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == '}') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }

  bool ParseArray(JsonValue* out, int depth) {
    if (depth > kMaxJsonDepth) return Fail("nesting too deep");
    out->kind = JsonValue::Kind::kArray;
    ++pos_;  // '['
    SkipBlanks();
    if (!AtEnd() && Peek() == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipBlanks();
      JsonValue value;
      if (!ParseValue(&value, depth)) return false;
      out->array.push_back(std::move(value));
      SkipBlanks();
      if (AtEnd()) return Fail("unterminated array");
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == ']') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or ']'");
    }
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
      int d = HexDigit(text_[pos_ + k]);
      if (d < 0) return Fail("bad \\u escape");
      v = (v << 4) | static_cast<unsigned>(d);
    }
    pos_ += 4;
    *unit = static_cast<char16_t>(v);
    return true;
  }

  bool ParseString(std::u16string* out) {
    ++pos_;  // opening quote
    out->clear();
    for (;;) {
      if (AtEnd()) return Fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(Peek());
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return Fail("control character in string");
      if (c == '\\') {
        ++pos_;
        if (AtEnd()) return Fail("unterminated escape");
        char e = Peek();
        ++pos_;
        switch (e) {
          case '"': out->push_back(u'"'); break;
          case '\\': out->push_back(u'\\'); break;
          case '/': out->push_back(u'/'); break;
          case 'b': out->push_back(u'\b'); break;
          case 'f': out->push_back(u'\f'); break;
          case 'n': out->push_back(u'\n'); break;
          case 'r': out->push_back(u'\r'); break;
          case 't': out->push_back(u'\t'); break;
          case 'u': {
            // A pair written as two escapes joins into one character; a lone
            // half stays as it is, as UTF-16 allows.
            char16_t unit = 0;
            if (!ParseHex4(&unit)) return false;
            out->push_back(unit);
            break;
          }
          default:
            --pos_;
            return Fail("unknown escape");
        }
        continue;
      }
      if (c < 0x80) {
        out->push_back(static_cast<char16_t>(c));
        ++pos_;
        continue;
      }
      // One UTF-8 sequence, checked strictly.
      size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (len == 1 || text_.size() - pos_ < len) return Fail("invalid UTF-8");
      std::u16string units;
      if (!Utf8ToUtf16(text_.substr(pos_, len), &units)) return Fail("invalid UTF-8");
      out->append(units);
      pos_ += len;
    }
  }

  bool ParseNumber(JsonValue* out) {
    out->kind = JsonValue::Kind::kNumber;
    bool negative = false;
    if (Peek() == '-') {
      negative = true;
      ++pos_;
    }
    if (AtEnd() || !(Peek() >= '0' && Peek() <= '9')) return Fail("bad number");
    bool fits = true;
    uint64_t magnitude = 0;
    if (Peek() == '0') {
      ++pos_;
      if (!AtEnd() && Peek() >= '0' && Peek() <= '9') return Fail("leading zero in number");
    } else {
      while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
        unsigned d = static_cast<unsigned>(Peek() - '0');
        if (magnitude > (UINT64_MAX - d) / 10) fits = false;
        if (fits) magnitude = magnitude * 10 + d;
        ++pos_;
      }
    }
    bool integral = true;
    if (!AtEnd() && Peek() == '.') {
      integral = false;
      ++pos_;
      if (AtEnd() || !(Peek() >= '0' && Peek() <= '9')) return Fail("bad fraction");
      while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++pos_;
    }
    if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
      integral = false;
      ++pos_;
      if (!AtEnd() && (Peek() == '+' || Peek() == '-')) ++pos_;
      if (AtEnd() || !(Peek() >= '0' && Peek() <= '9')) return Fail("bad exponent");
      while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++pos_;
    }
    const uint64_t limit = negative ? static_cast<uint64_t>(INT64_MAX) + 1 : static_cast<uint64_t>(INT64_MAX);
    out->isInteger = integral && fits && magnitude <= limit;
    if (out->isInteger)
      out->integer = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
  }

  const std::string& text_;
  size_t pos_ = 0;
  size_t values_ = 0;
  std::string error_;
};

}  // namespace

const JsonValue* JsonValue::Find(const char* key) const {
  std::u16string wanted(key, key + std::strlen(key));
  for (const auto& m : members)
    if (m.first == wanted) return &m.second;
  return nullptr;
}

size_t JsonValue::Count(const char* key) const {
  std::u16string wanted(key, key + std::strlen(key));
  size_t n = 0;
  for (const auto& m : members)
    if (m.first == wanted) ++n;
  return n;
}

bool ParseJson(const std::string& text, JsonValue* out, std::string* error) {
  Parser parser(text);
  JsonValue value;
  if (!parser.ParseDocument(&value, error)) return false;
  *out = std::move(value);
  return true;
}

void AppendJsonString(const std::u16string& text, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
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
    bool highThenLow = u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                       text[i + 1] <= 0xDFFF;
    if (highThenLow) {
      AppendUtf8(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00), out);
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

void AppendJsonString(const std::string& utf8, std::string* out) {
  std::u16string wide;
  if (!Utf8ToUtf16(utf8, &wide)) wide = std::u16string(1, u'\uFFFD');
  AppendJsonString(wide, out);
}

}  // namespace korvessa
