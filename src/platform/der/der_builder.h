// The stand-in's one DER writer: tagged elements with definite lengths,
// sequences and sorted sets built from their finished parts, object
// identifiers from dotted text and minimal INTEGERs. Reading is
// der/der_span.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace kv::platform::der {

using Bytes = std::vector<BYTE>;

// tag || length || content.
Bytes Element(BYTE tag, const BYTE* content, size_t size);
Bytes Element(BYTE tag, const Bytes& content);
// The parts one after another, and as a SEQUENCE.
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Sequence(std::initializer_list<Bytes> parts);
// SET OF: the elements sorted by their encodings, as DER requires.
Bytes SetOf(std::vector<Bytes> elements);
// OBJECT IDENTIFIER from "1.2.840..."; false when the text is not an OID.
bool Oid(const char* dotted, Bytes* out);
// INTEGER from an unsigned big-endian magnitude (a zero byte added when the
// top bit is set, leading zeros dropped).
Bytes UnsignedInteger(const BYTE* bigEndian, size_t size);
Bytes SmallInteger(DWORD value);
inline Bytes Null() { return Bytes{0x05, 0x00}; }

}  // namespace kv::platform::der
