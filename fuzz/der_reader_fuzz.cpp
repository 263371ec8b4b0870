// Fuzz target: the DER header parser, child walking and list parsing on
// arbitrary bytes, and re-encoding whatever parsed.
#include <cstddef>
#include <cstdint>

#include "codec/der/der_reader.h"

namespace {

// Walks an element and its descendants up to a fixed depth, re-encoding
// every element that parsed.
void Walk(const BYTE* data, int32_t size, int depth) {
  if (size < 1 || depth > 24) return;
  const BYTE classBits = BYTE(data[0] & 0xE0);
  CDerReader reader;
  if (!reader.Parse(data, size, 0, classBits)) return;
  CDerBlob out;
  if (reader.TagNumber() < 31) (void)reader.EncodeTo(&out, reader.TagNumber(), classBits);
  const BYTE* child = nullptr;
  int32_t length = 0;
  while (reader.NextChild(&child, &length)) Walk(child, length, depth + 1);
  CDerReader list;
  (void)list.ParseList(data, size, 0, classBits);
  for (size_t i = 0; i < list.ChildCount(); ++i) {
    CDerElement element;
    (void)element.ParseHeader(list.ChildAt(i).encoding, list.ChildAt(i).length, 0, BYTE(list.ChildAt(i).encoding[0] & 0xE0));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  Walk(data, int32_t(size), 0);
  // Object identifier text, when the input looks like one.
  if (size > 0 && size < 200) {
    char text[200];
    for (size_t i = 0; i < size; ++i) text[i] = data[i] == 0 ? '.' : char(data[i]);
    text[size] = '\0';
    CDerElement oid;
    CDerBlob out;
    if (oid.SetOid(text)) (void)oid.EncodeTo(&out, kDerObjectIdentifier, kDerUniversal);
  }
  return 0;
}
