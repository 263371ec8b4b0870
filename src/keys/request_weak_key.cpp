// The weak-key check on the multi-precision integers of mbed TLS.
#include "keys/request_weak_key.h"

#include <cstdint>
#include <initializer_list>

#include <mbedtls/bignum.h>

namespace kv::keys {
namespace {

constexpr size_t kBlobHeaderSize = 8;   // BLOBHEADER
constexpr size_t kRsaHeaderSize = 12;   // magic, bit length, public exponent
constexpr size_t kBitLengthOffset = 12;
constexpr size_t kExponentOffset = 16;

uint32_t ReadLe32(const BYTE* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// The integers of one blob, released however the check ends.
struct Numbers {
  mbedtls_mpi n, p, q, dp, dq, qp, d, e;
  mbedtls_mpi p1, q1, phi, g, lambda, t;
  Numbers() {
    for (mbedtls_mpi* x : {&n, &p, &q, &dp, &dq, &qp, &d, &e, &p1, &q1, &phi, &g, &lambda, &t}) mbedtls_mpi_init(x);
  }
  ~Numbers() {
    // Freeing zeroes the limbs too.
    for (mbedtls_mpi* x : {&n, &p, &q, &dp, &dq, &qp, &d, &e, &p1, &q1, &phi, &g, &lambda, &t}) mbedtls_mpi_free(x);
  }
  Numbers(const Numbers&) = delete;
  Numbers& operator=(const Numbers&) = delete;
};

bool Check(const BYTE* blob, size_t size) {
  if (!blob || size < kBlobHeaderSize + kRsaHeaderSize) return false;
  const uint32_t bits = ReadLe32(blob + kBitLengthOffset);
  if (bits == 0 || bits % 16 != 0) return false;
  const size_t whole = bits / 8, half = bits / 16;
  if (size < kBlobHeaderSize + kRsaHeaderSize + 2 * whole + 5 * half) return false;

  Numbers x;
  const BYTE* at = blob + kBlobHeaderSize + kRsaHeaderSize;
  auto read = [&](mbedtls_mpi* v, size_t length) {
    bool ok = mbedtls_mpi_read_binary_le(v, at, length) == 0;
    at += length;
    return ok;
  };
  if (!read(&x.n, whole) || !read(&x.p, half) || !read(&x.q, half) || !read(&x.dp, half) || !read(&x.dq, half) ||
      !read(&x.qp, half) || !read(&x.d, whole))
    return false;
  if (mbedtls_mpi_read_binary_le(&x.e, blob + kExponentOffset, 4) != 0) return false;

  // P * Q = N
  if (mbedtls_mpi_mul_mpi(&x.t, &x.p, &x.q) != 0 || mbedtls_mpi_cmp_mpi(&x.t, &x.n) != 0) return false;
  // D mod (P - 1) = DP and D mod (Q - 1) = DQ (a zero divisor fails the call)
  if (mbedtls_mpi_sub_int(&x.p1, &x.p, 1) != 0 || mbedtls_mpi_sub_int(&x.q1, &x.q, 1) != 0) return false;
  if (mbedtls_mpi_mod_mpi(&x.t, &x.d, &x.p1) != 0 || mbedtls_mpi_cmp_mpi(&x.t, &x.dp) != 0) return false;
  if (mbedtls_mpi_mod_mpi(&x.t, &x.d, &x.q1) != 0 || mbedtls_mpi_cmp_mpi(&x.t, &x.dq) != 0) return false;
  // Q^-1 mod P = QP
  if (mbedtls_mpi_inv_mod(&x.t, &x.q, &x.p) != 0 || mbedtls_mpi_cmp_mpi(&x.t, &x.qp) != 0) return false;
  // D * E mod lcm(P - 1, Q - 1) = 1. Generators that follow the current RSA
  // key-generation standards (OpenSSL from 2048 bits, FIPS modules, many
  // cards) give the smallest such D, which is rarely the inverse modulo
  // (P - 1)(Q - 1): held to that product, three keys in four were thrown
  // away and one enrolment in a few hundred ran out of attempts. Every D
  // that is an inverse modulo the product is one modulo the lcm too.
  if (mbedtls_mpi_mul_mpi(&x.phi, &x.p1, &x.q1) != 0 || mbedtls_mpi_gcd(&x.g, &x.p1, &x.q1) != 0 ||
      mbedtls_mpi_div_mpi(&x.lambda, nullptr, &x.phi, &x.g) != 0)
    return false;
  if (mbedtls_mpi_mul_mpi(&x.t, &x.d, &x.e) != 0 || mbedtls_mpi_mod_mpi(&x.t, &x.t, &x.lambda) != 0 ||
      mbedtls_mpi_cmp_int(&x.t, 1) != 0)
    return false;
  // gcd(E, (P - 1)(Q - 1)) = 1
  if (mbedtls_mpi_gcd(&x.t, &x.e, &x.phi) != 0 || mbedtls_mpi_cmp_int(&x.t, 1) != 0) return false;
  return true;
}

}  // namespace

bool RsaPrivateBlobConsistent(const BYTE* blob, size_t size) { return Check(blob, size); }

}  // namespace kv::keys
