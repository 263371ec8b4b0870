// Upper bounds of the answers that carry a text argument, Base64-encoded.
#include "korvessa-nm/answer_bound.h"

namespace korvessa {
namespace {

using kv::json::Value;

constexpr int64_t kDetached = 0x400;       // SignPkcs7: the content stays out
constexpr int64_t kCodePageText = 0x800;   // the text as ANSI bytes, not UTF-16
// Certificates, chain, attributes or recipient information around the
// content, and the answer's own members and message: generous, since a bound
// too low would let a dialog through.
constexpr uint64_t kWrapping = 256 * 1024;

// Bytes of the text as the engine takes it: UTF-16 code units, or ANSI bytes
// (one per ASCII character; Big5 needs two for the rest, UTF-8 at most three).
uint64_t TextBytes(const std::u16string& text, bool codePage) {
  if (!codePage) return 2 * static_cast<uint64_t>(text.size());
  uint64_t bytes = 0;
  for (char16_t c : text) bytes += c < 0x80 ? 1 : 3;
  return bytes;
}

uint64_t Base64Length(uint64_t bytes) { return (bytes + 2) / 3 * 4; }

}  // namespace

uint64_t AnswerBound(const std::string& method, const Value& args) {
  // The text and the flags, by their place in each operation's parameters.
  size_t textAt = 0, flagsAt = 0;
  if (method == "SignPkcs7") {
    flagsAt = 1;
  } else if (method == "SymEncrypt" || method == "CertEncryptPkcs7") {
    flagsAt = 3;
  } else {
    return 0;
  }
  if (args.kind != Value::Kind::kArray || args.items.size() <= flagsAt) return 0;
  const Value& text = args.items[textAt];
  const Value& flags = args.items[flagsAt];
  if (text.kind != Value::Kind::kString || flags.kind != Value::Kind::kNumber || !flags.isInteger) return 0;
  if (method == "SignPkcs7" && (flags.integer & kDetached)) return 0;
  return Base64Length(TextBytes(text.string, (flags.integer & kCodePageText) != 0) + kWrapping);
}

}  // namespace korvessa
