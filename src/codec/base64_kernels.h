// Bulk Base64 kernels behind CByteBuffer's codec: they handle only the easy
// stretches (whole 3-byte groups when encoding, runs of pure alphabet
// characters when decoding) and leave everything else to the exact
// character-by-character code in base64_codec.cpp. A scalar table-driven
// version always exists; an AVX2 one is picked at run time where the CPU has it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv::codec::base64 {

// The alphabet with the pad at position 64.
extern const char kAlphabet[66];

// Encodes the leading whole 3-byte groups of src[0, n) into `out` (4 characters
// per group, no pads). Returns the number of input bytes consumed, a multiple
// of 3; the caller encodes the remaining 0 to 2 (or more) bytes itself. Writes
// exactly 4/3 of the bytes consumed.
using EncodeKernel = size_t (*)(const uint8_t* src, size_t n, char* out);

// Decodes the leading groups of four characters of src[0, n) for as long as
// every character of a group is in [A-Za-z0-9+/]. Returns the number of
// characters consumed (a multiple of 4) and writes 3/4 as many bytes; it may
// also scribble on up to 8 bytes after them, which the caller reserves.
using DecodeKernel = size_t (*)(const char* src, size_t n, uint8_t* out);

size_t EncodeScalar(const uint8_t* src, size_t n, char* out);
size_t DecodeScalar(const char* src, size_t n, uint8_t* out);

// Null where the build or the CPU lacks AVX2.
EncodeKernel EncodeAvx2();
DecodeKernel DecodeAvx2();

// The kernels the codec uses: AVX2 where available unless the scalar ones are
// forced (tests and fuzzing compare both).
EncodeKernel ActiveEncodeKernel();
DecodeKernel ActiveDecodeKernel();
void ForceScalarKernels(bool force);

}  // namespace kv::codec::base64
