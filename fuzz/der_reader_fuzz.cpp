// Fuzz target: the DER span's element reads on arbitrary bytes, re-encoding
// whatever parsed with the builder, and object identifier text both ways.
#include <cstddef>
#include <cstdint>
#include <string>

#include "der/der_builder.h"

namespace {

// Walks the elements of `in` and their descendants up to a fixed depth,
// re-encoding each level into `out`.
void Walk(kv::der::Span in, kv::der::Builder& out, int depth) {
  while (!in.empty() && depth <= 24) {
    uint8_t tag;
    kv::der::Span contents;
    if (!in.ReadAny(&tag, &contents)) return;
    if (tag & 0x20) {
      out.Open(tag);
      Walk(contents, out, depth + 1);
      out.Close();
    } else {
      out.Add(tag, contents.data(), contents.size());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  kv::der::Builder builder;
  Walk(kv::der::Span(data, size), builder, 0);
  kv::der::Bytes out;
  (void)builder.Finish(&out);
  std::string text;
  if (kv::der::OidToText(kv::der::Span(data, size), &text)) {
    kv::der::Bytes back;
    (void)kv::der::TextToOid(text, &back);
  }
  return 0;
}
