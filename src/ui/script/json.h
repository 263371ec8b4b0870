// A small JSON reader and string writer for dialog scripts and transcripts.
// Self-contained (no engine calls) so the desktop module can build it too.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kv::json {

struct Value {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  double number = 0;
  std::string string;  // UTF-8
  std::vector<Value> items;
  std::vector<std::pair<std::string, Value>> members;

  bool IsNumber() const { return type == Type::kNumber; }
  bool IsString() const { return type == Type::kString; }
  bool IsObject() const { return type == Type::kObject; }
  bool IsArray() const { return type == Type::kArray; }
  // Member by name, or null.
  const Value* Find(const std::string& name) const {
    if (type != Type::kObject) return nullptr;
    for (const auto& m : members)
      if (m.first == name) return &m.second;
    return nullptr;
  }
  // An integer written as a number or as a string of digits; false for
  // anything else.
  bool AsInt(int* out) const;
};

// Parses one JSON text, or several values one after another (JSON lines);
// false with a message on malformed input.
bool ParseValues(const std::string& text, std::vector<Value>* values, std::string* error);

// `text` (UTF-8) as a quoted JSON string. Bytes that are not valid UTF-8
// are written as U+FFFD.
std::string Quote(const std::string& text);

}  // namespace kv::json
