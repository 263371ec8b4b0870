// Fuzz target for the JSON reader and writer: any text parses or fails
// without fault within the nesting and value limits; what parses is written
// back with the string writer and parses again to the same strings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kvcommon/json.h"

namespace {

// Writes `v` back as JSON text (numbers through their double or integer).
void Write(const kv::json::Value& v, std::string* out) {
  using Kind = kv::json::Value::Kind;
  switch (v.kind) {
    case Kind::kNull: *out += "null"; break;
    case Kind::kBool: *out += v.boolean ? "true" : "false"; break;
    case Kind::kNumber: *out += v.isInteger ? std::to_string(v.integer) : "0"; break;
    case Kind::kString: kv::json::AppendQuoted(v.string, out); break;
    case Kind::kArray:
      *out += '[';
      for (size_t i = 0; i < v.items.size(); ++i) {
        if (i) *out += ',';
        Write(v.items[i], out);
      }
      *out += ']';
      break;
    case Kind::kObject:
      *out += '{';
      for (size_t i = 0; i < v.members.size(); ++i) {
        if (i) *out += ',';
        kv::json::AppendQuoted(v.members[i].first, out);
        *out += ':';
        Write(v.members[i].second, out);
      }
      *out += '}';
      break;
  }
}

bool Same(const kv::json::Value& a, const kv::json::Value& b) {
  if (a.kind != b.kind || a.boolean != b.boolean || a.string != b.string) return false;
  if (a.isInteger && (!b.isInteger || a.integer != b.integer)) return false;
  if (a.items.size() != b.items.size() || a.members.size() != b.members.size()) return false;
  for (size_t i = 0; i < a.items.size(); ++i)
    if (!Same(a.items[i], b.items[i])) return false;
  for (size_t i = 0; i < a.members.size(); ++i)
    if (a.members[i].first != b.members[i].first || !Same(a.members[i].second, b.members[i].second)) return false;
  return true;
}

size_t Count(const kv::json::Value& v, int depth, int* deepest) {
  if (depth > *deepest) *deepest = depth;
  size_t n = 1;
  for (const auto& item : v.items) n += Count(item, depth + 1, deepest);
  for (const auto& m : v.members) n += Count(m.second, depth + 1, deepest);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<kv::json::Value> values;
  std::string error;
  if (!kv::json::ParseSequence(text, &values, &error)) {
    if (error.empty() || !values.empty()) std::abort();
    return 0;
  }
  for (const auto& v : values) {
    int deepest = 0;
    if (Count(v, 0, &deepest) > kv::json::kMaxValues || deepest > kv::json::kMaxDepth) std::abort();
    std::string written;
    Write(v, &written);
    kv::json::Value back;
    if (!kv::json::Parse(written, &back, &error) || !Same(v, back)) std::abort();
  }
  return 0;
}
