// Base64 written straight into UTF-16 code units, for results handed back as
// strings: a large output is never held as narrow text as well.
#pragma once

#include <windows.h>

#include <cstddef>

namespace kv::codec {

// Characters of the padded Base64 of n bytes.
constexpr size_t Base64Length(size_t n) { return 4 * ((n + 2) / 3); }

// One line of padded Base64 of in[0, n) as Base64Length(n) units at `out`
// (no terminator), the same characters CByteBuffer::EncodeBase64 writes.
void EncodeBase64Wide(const BYTE* in, size_t n, WCHAR* out);

}  // namespace kv::codec
