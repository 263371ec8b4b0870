// A small JSON reader and writer for the host's batch mode. The reader
// takes one complete JSON text, checks it strictly (UTF-8, grammar, nesting
// depth) and keeps strings as UTF-16 so escapes such as "\ud83d\ude00" and
// even lone surrogates reach the engine unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace korvessa {

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Kind kind = Kind::kNull;
  bool boolean = false;
  // Numbers: whether the text is an integer (no fraction, no exponent) that
  // fits 64 bits, and then its value.
  bool isInteger = false;
  int64_t integer = 0;
  std::u16string string;
  std::vector<JsonValue> array;
  std::vector<std::pair<std::u16string, JsonValue>> members;

  // The first member named `key` (ASCII), or null.
  const JsonValue* Find(const char* key) const;
  // How many members are named `key`.
  size_t Count(const char* key) const;
};

// Deepest nesting of arrays and objects the reader accepts.
inline constexpr int kMaxJsonDepth = 64;
// Most values (of any kind, at any depth) in one text: a call needs a dozen,
// and the cap keeps a hostile line of "1,1,1,..." from costing gigabytes.
inline constexpr size_t kMaxJsonValues = 4096;

// Parses `text` as one JSON value with nothing but blanks around it. On
// failure returns false and says why (with the byte offset).
bool ParseJson(const std::string& text, JsonValue* out, std::string* error);

// Appends `text` as a JSON string literal. Characters outside ASCII go out as
// UTF-8; lone surrogates and control characters as \u escapes.
void AppendJsonString(const std::u16string& text, std::string* out);
void AppendJsonString(const std::string& asciiOrUtf8, std::string* out);

}  // namespace korvessa
