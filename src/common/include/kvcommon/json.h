// The one JSON reader and string writer of the component: the command-line
// host's batch mode reads its calls with it, the scripted dialogs their
// answers, and the tests the transcripts.
//
// Why an in-tree reader: a BSTR argument may hold any 16-bit units, lone
// surrogates included, and the host must be able to pass such a string
// ("\ud800") through JSON unchanged. The JSON libraries Debian packages refuse
// or replace lone surrogates in \u escapes, so they cannot carry these
// arguments. The reader is otherwise strict: RFC 8259 grammar, well-formed
// UTF-8 (see kvcommon/utf.h), bounded nesting and value counts so hostile
// input cannot exhaust the stack or memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::json {

struct Value {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Kind kind = Kind::kNull;
  bool boolean = false;
  // Numbers: the value as a double, and whether the text is an integer (no
  // fraction, no exponent) that fits 64 bits, then its exact value.
  double number = 0;
  bool isInteger = false;
  int64_t integer = 0;
  // Strings and member names stay UTF-16 so that \u escapes of lone
  // surrogates survive.
  std::u16string string;
  std::vector<Value> items;
  std::vector<std::pair<std::u16string, Value>> members;

  bool Is(Kind k) const { return kind == k; }
  // The first member named `name` (UTF-8), or null (also for non-objects).
  const Value* Find(std::string_view name) const;
  // How many members are named `name`.
  size_t Count(std::string_view name) const;
  // The string as UTF-8 (a lone surrogate reads as U+FFFD).
  std::string Utf8() const;
  // An integer written as a number or as a string of decimal digits, within
  // 32 bits; false for anything else.
  bool AsInt(int* out) const;
};

// Deepest nesting of arrays and objects the reader accepts.
inline constexpr int kMaxDepth = 64;
// Most values (of any kind, at any depth) in one top-level value: a call or
// a dialog answer needs a dozen, and the cap keeps a hostile line of
// "1,1,1,..." from costing gigabytes.
inline constexpr size_t kMaxValues = 4096;

// Parses `text` as one JSON value with nothing but blanks around it. On
// failure returns false, leaves `out` alone and says why, with the byte
// offset.
bool Parse(std::string_view text, Value* out, std::string* error);

// Parses a sequence of JSON values separated by blanks (JSON lines, or one
// text). All or nothing: on failure `values` is empty.
bool ParseSequence(std::string_view text, std::vector<Value>* values, std::string* error);

// Appends `text` as a JSON string literal: characters outside ASCII as UTF-8;
// control characters, DEL and lone surrogates as \u escapes.
void AppendQuoted(std::u16string_view text, std::string* out);
// The same for UTF-8 text; each byte that is not well-formed UTF-8 is written
// as U+FFFD.
void AppendQuoted(std::string_view utf8, std::string* out);
// `text` as a quoted JSON string.
std::string Quote(std::string_view utf8);
std::string Quote(std::u16string_view text);

}  // namespace kv::json
