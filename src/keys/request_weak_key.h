// The consistency check every newly generated RSA key passes: the parts of
// its PRIVATEKEYBLOB must fit together as an RSA key, else the key is weak
// (a faulty generator or hardware) and is not used.
#pragma once

#include <windows.h>

#include <cstddef>

namespace kv::keys {

// True when `blob` is a whole PRIVATEKEYBLOB (blob header, RSA header with
// bit length L and public exponent E, then N, P, Q, DP, DQ, QP, D least
// significant byte first) whose parts satisfy P*Q = N, D mod (P-1) = DP,
// D mod (Q-1) = DQ, Q^-1 mod P = QP, D*E mod lcm(P-1, Q-1) = 1 and
// gcd(E, (P-1)(Q-1)) = 1. A short or malformed blob, or any failing
// arithmetic, answers false.
bool RsaPrivateBlobConsistent(const BYTE* blob, size_t size);

}  // namespace kv::keys
