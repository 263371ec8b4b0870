// The DES block function (FIPS 46-3) and its CBC chaining for single DES and
// triple-DES (encrypt-decrypt-encrypt, NIST SP 800-67).
//
// Blocks are kept between the initial and final permutations in a rotated
// form that lines the expansion's six-bit groups up with the S-box tables.
// Since both permutations are linear, CBC chaining is done in that domain:
// the chaining value never goes through the final and initial permutation,
// which takes both off the critical path from one block to the next.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv::des {

// The 16 round keys of one DES key, in the order a pass applies them.
struct Schedule {
  uint32_t words[32];
};

// Prepares `key` (8 bytes, parity bits ignored) for encryption or decryption.
void MakeSchedule(const uint8_t key[8], bool decrypt, Schedule* schedule);

// One block, ECB: single DES with `k1`, or EDE when k2 and k3 are given
// (k2 prepared for decryption).
void EncryptBlock(const Schedule& k1, const Schedule* k2, const Schedule* k3, const uint8_t in[8], uint8_t out[8]);

// CBC encryption of `blocks` whole blocks from `in` to `out` (which may be the
// same), chaining from and updating `chain` (8 bytes).
void CbcEncrypt(const Schedule& k1, const Schedule* k2, const Schedule* k3, uint8_t chain[8], const uint8_t* in,
                uint8_t* out, size_t blocks);

// CBC decryption of `blocks` whole blocks from `in` to `out` (which may be the
// same), chaining from and updating `chain`. The schedules are given in the
// order the pass applies them: for DES the key prepared for decryption; for
// EDE K3 prepared for decryption, K2 for encryption, K1 for decryption.
// Independent blocks are decrypted side by side.
void CbcDecrypt(const Schedule& k1, const Schedule* k2, const Schedule* k3, uint8_t chain[8], const uint8_t* in,
                uint8_t* out, size_t blocks);

}  // namespace kv::des
