// Conversion of RSA keys between OpenSSL and the CryptoAPI key blobs.
#include "crypt/rsa_blob.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/rsa.h>

#include <cstring>

namespace kv::platform::crypt {
namespace {


BnPtr GetBn(EVP_PKEY* pkey, const char* name) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(pkey, name, &bn) != 1) return nullptr;
  return BnPtr(bn);
}

// Appends `bn` as `width` bytes, least significant first.
bool AppendLe(const BIGNUM* bn, size_t width, std::vector<BYTE>* out) {
  size_t at = out->size();
  out->resize(at + width);
  return BN_bn2lebinpad(bn, out->data() + at, static_cast<int>(width)) == static_cast<int>(width);
}

void AppendDword(DWORD v, std::vector<BYTE>* out) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<BYTE>(v >> (8 * i)));
}

DWORD ReadDword(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
         (static_cast<DWORD>(p[3]) << 24);
}

// INTEGER content as an unsigned magnitude (leading zero dropped).
der::Span Magnitude(der::Span integer) {
  const BYTE* p = integer.data();
  size_t n = integer.size();
  while (n > 1 && p[0] == 0) {
    ++p;
    --n;
  }
  return der::Span(p, n);
}

constexpr char kRsaEncryptionOid[] = "1.2.840.113549.1.1.1";

// An RSA key's numbers; the private ones null for a public key.
struct RsaParts {
  BnPtr n, e, d, p, q, dp, dq, qinv;
};

// The key through the provider's import, which runs no decoders.
PkeyPtr KeyFromParts(const RsaParts& k, bool priv) {
  OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
  if (!bld) return nullptr;
  bool ok = OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, k.n.get()) &&
            OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, k.e.get());
  if (priv) {
    ok = ok && OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_D, k.d.get()) &&
         OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_FACTOR1, k.p.get()) &&
         OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_FACTOR2, k.q.get()) &&
         OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_EXPONENT1, k.dp.get()) &&
         OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_EXPONENT2, k.dq.get()) &&
         OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, k.qinv.get());
  }
  OSSL_PARAM* params = ok ? OSSL_PARAM_BLD_to_param(bld) : nullptr;
  OSSL_PARAM_BLD_free(bld);
  if (!params) return nullptr;
  EVP_PKEY* pkey = nullptr;
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  if (ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1) {
    EVP_PKEY_fromdata(ctx.get(), &pkey, priv ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params);
  }
  OSSL_PARAM_free(params);
  return PkeyPtr(pkey);
}

}  // namespace

bool RsaPublicKeyToBlob(der::Span in, std::vector<BYTE>* blob, DWORD* error) {
  der::Span seq, n, e;
  der::Span probe = in;
  if (!probe.Read(der::kSequence, &seq)) {
    *error = der::ExpectedElementError(in, der::kSequence);
    return false;
  }
  der::Span inner = seq;
  if (!inner.Read(der::kInteger, &n)) {
    *error = der::ExpectedElementError(seq, der::kInteger);
    return false;
  }
  der::Span rest = inner;
  if (!inner.Read(der::kInteger, &e)) {
    *error = der::ExpectedElementError(rest, der::kInteger);
    return false;
  }
  der::Span mod = Magnitude(n), exp = Magnitude(e);
  if (mod.empty() || exp.size() > 4 || (n.size() && (n.data()[0] & 0x80))) {
    *error = static_cast<DWORD>(exp.size() > 4 ? CRYPT_E_ASN1_LARGE : CRYPT_E_ASN1_CORRUPT);
    return false;
  }
  DWORD pubexp = 0;
  for (size_t i = 0; i < exp.size(); ++i) pubexp = (pubexp << 8) | exp.data()[i];
  const DWORD bitlen = static_cast<DWORD>(mod.size() * 8);
  blob->clear();
  blob->reserve(20 + mod.size());
  blob->push_back(PUBLICKEYBLOB);
  blob->push_back(CUR_BLOB_VERSION);
  blob->push_back(0);
  blob->push_back(0);
  AppendDword(CALG_RSA_KEYX, blob);
  AppendDword(RSA1_MAGIC, blob);
  AppendDword(bitlen, blob);
  AppendDword(pubexp, blob);
  for (size_t i = mod.size(); i > 0; --i) blob->push_back(mod.data()[i - 1]);
  return true;
}

PkeyPtr RsaFromPublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info, DWORD* error) {
  if (!info.Algorithm.pszObjId || std::strcmp(info.Algorithm.pszObjId, kRsaEncryptionOid) != 0) {
    *error = static_cast<DWORD>(NTE_BAD_ALGID);
    return nullptr;
  }
  std::vector<BYTE> blob;
  if (!RsaPublicKeyToBlob(der::Span(info.PublicKey.pbData, info.PublicKey.cbData), &blob, error)) return nullptr;
  ALG_ID algId = 0;
  bool isPrivate = false;
  return RsaFromBlob(blob.data(), blob.size(), &algId, &isPrivate, error);
}

DWORD RsaBits(EVP_PKEY* pkey) {
  if (!pkey || EVP_PKEY_get_base_id(pkey) != EVP_PKEY_RSA) return 0;
  return static_cast<DWORD>(EVP_PKEY_get_bits(pkey));
}

namespace {

// The key's components, read with one export of the key: each
// EVP_PKEY_get_bn_param asks the key manager for all of them again. A key
// that cannot be exported whole (another provider's) is asked one by one.
class RsaComponents {
 public:
  RsaComponents(EVP_PKEY* pkey, bool includePrivate) : pkey_(pkey) {
    if (EVP_PKEY_todata(pkey, includePrivate ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, &params_) != 1)
      params_ = nullptr;
  }
  ~RsaComponents() {
    if (!params_) return;
    for (OSSL_PARAM* p = params_; p->key; ++p)
      if (p->data) OPENSSL_cleanse(p->data, p->data_size);
    OSSL_PARAM_free(params_);
  }
  RsaComponents(const RsaComponents&) = delete;
  RsaComponents& operator=(const RsaComponents&) = delete;

  BnPtr Get(const char* name) const {
    const OSSL_PARAM* found = params_ ? OSSL_PARAM_locate_const(params_, name) : nullptr;
    BIGNUM* bn = nullptr;
    if (found && OSSL_PARAM_get_BN(found, &bn) == 1) return BnPtr(bn);
    return GetBn(pkey_, name);
  }

 private:
  EVP_PKEY* pkey_;
  OSSL_PARAM* params_ = nullptr;
};

}  // namespace

bool RsaToBlob(EVP_PKEY* pkey, ALG_ID algId, bool includePrivate, std::vector<BYTE>* blob, DWORD bitLen) {
  DWORD bits = RsaBits(pkey);
  if (bits == 0) return false;
  if (bitLen > bits) bits = bitLen;
  RsaComponents parts(pkey, includePrivate);
  BnPtr n = parts.Get(OSSL_PKEY_PARAM_RSA_N);
  BnPtr e = parts.Get(OSSL_PKEY_PARAM_RSA_E);
  if (!n || !e || BN_num_bits(e.get()) > 32) return false;
  size_t full = (bits + 7) / 8, half = (bits + 15) / 16;
  blob->clear();
  blob->push_back(includePrivate ? PRIVATEKEYBLOB : PUBLICKEYBLOB);
  blob->push_back(CUR_BLOB_VERSION);
  blob->push_back(0);
  blob->push_back(0);
  AppendDword(algId, blob);
  AppendDword(includePrivate ? RSA2_MAGIC : RSA1_MAGIC, blob);
  AppendDword(bits, blob);
  AppendDword(static_cast<DWORD>(BN_get_word(e.get())), blob);
  if (!AppendLe(n.get(), full, blob)) return false;
  if (!includePrivate) return true;
  BnPtr p = parts.Get(OSSL_PKEY_PARAM_RSA_FACTOR1);
  BnPtr q = parts.Get(OSSL_PKEY_PARAM_RSA_FACTOR2);
  BnPtr dp = parts.Get(OSSL_PKEY_PARAM_RSA_EXPONENT1);
  BnPtr dq = parts.Get(OSSL_PKEY_PARAM_RSA_EXPONENT2);
  BnPtr qi = parts.Get(OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
  BnPtr d = parts.Get(OSSL_PKEY_PARAM_RSA_D);
  bool ok = p && q && dp && dq && qi && d && AppendLe(p.get(), half, blob) && AppendLe(q.get(), half, blob) &&
            AppendLe(dp.get(), half, blob) && AppendLe(dq.get(), half, blob) &&
            AppendLe(qi.get(), half, blob) && AppendLe(d.get(), full, blob);
  if (!ok) {
    OPENSSL_cleanse(blob->data(), blob->size());
    blob->clear();
  }
  return ok;
}

PkeyPtr RsaFromBlob(const BYTE* data, size_t size, ALG_ID* algId, bool* isPrivate, DWORD* error, DWORD* bitLen) {
  *error = static_cast<DWORD>(NTE_BAD_DATA);
  if (size < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY)) return nullptr;
  BYTE type = data[0];
  if (type != PUBLICKEYBLOB && type != PRIVATEKEYBLOB) {
    *error = static_cast<DWORD>(NTE_BAD_TYPE);
    return nullptr;
  }
  if (data[1] != CUR_BLOB_VERSION && data[1] != 3) {
    *error = static_cast<DWORD>(NTE_BAD_VER);
    return nullptr;
  }
  *algId = ReadDword(data + 4);
  DWORD magic = ReadDword(data + 8);
  DWORD bits = ReadDword(data + 12);
  DWORD pubexp = ReadDword(data + 16);
  bool priv = type == PRIVATEKEYBLOB;
  *isPrivate = priv;
  if (GET_ALG_TYPE(*algId) != ALG_TYPE_RSA) {
    *error = static_cast<DWORD>(NTE_BAD_ALGID);
    return nullptr;
  }
  if (magic != (priv ? RSA2_MAGIC : RSA1_MAGIC) || bits == 0 || bits > 16384 || pubexp == 0) return nullptr;
  size_t full = (bits + 7) / 8, half = (bits + 15) / 16;
  size_t need = 20 + full + (priv ? 5 * half + full : 0);
  if (size < need) return nullptr;
  const BYTE* p = data + 20;
  auto take = [&p](size_t width) {
    BIGNUM* bn = BN_lebin2bn(p, static_cast<int>(width), nullptr);
    p += width;
    return BnPtr(bn);
  };
  BnPtr n = take(full);
  BnPtr e(BN_new());
  if (!n || !e || !BN_set_word(e.get(), pubexp) || BN_is_zero(n.get())) return nullptr;
  BnPtr f1, f2, e1, e2, c1, d;
  if (priv) {
    f1 = take(half);
    f2 = take(half);
    e1 = take(half);
    e2 = take(half);
    c1 = take(half);
    d = take(full);
    if (!f1 || !f2 || !e1 || !e2 || !c1 || !d) return nullptr;
    // A key whose primes do not make its modulus would sign garbage; refuse it.
    BnPtr prod(BN_new());
    BN_CTX* ctx = BN_CTX_new();
    bool consistent = prod && ctx && BN_mul(prod.get(), f1.get(), f2.get(), ctx) && BN_cmp(prod.get(), n.get()) == 0;
    BN_CTX_free(ctx);
    if (!consistent) return nullptr;
  }
  PkeyPtr pkey = KeyFromParts(RsaParts{std::move(n), std::move(e), std::move(d), std::move(f1), std::move(f2),
                                        std::move(e1), std::move(e2), std::move(c1)},
                               priv);
  if (pkey) {
    *error = 0;
    if (bitLen) *bitLen = bits;
  }
  return pkey;
}

namespace {

// The nine INTEGERs of a two-prime RSAPrivateKey after its version, in the
// DER's order, as big-endian magnitudes.
enum RsaField { kN, kE, kD, kP, kQ, kDp, kDq, kQinv, kRsaFields };

// The private blob's numbers after its header, in order: the modulus and
// private exponent take the full width, the other five half of it.
struct BlobPart {
  RsaField field;
  bool full;
};
constexpr BlobPart kPrivateBlobLayout[] = {{kN, true},   {kP, false},    {kQ, false}, {kDp, false},
                                           {kDq, false}, {kQinv, false}, {kD, true}};

// Reads the fields of a two-prime RSAPrivateKey; false when the DER is not
// one (a negative field included).
bool ReadRsaPrivateKey(der::Span in, der::Span (&fields)[kRsaFields]) {
  der::Span key, version;
  if (!in.Read(der::kSequence, &key) || !in.empty() || !key.Read(der::kInteger, &version) ||
      version.size() != 1 || version.data()[0] != 0) {
    return false;
  }
  for (der::Span& field : fields) {
    der::Span value;
    if (!key.Read(der::kInteger, &value) || value.empty() || (value.data()[0] & 0x80)) return false;
    field = Magnitude(value);
  }
  return key.empty();
}

size_t BitLength(der::Span magnitude) {
  if (magnitude.empty() || magnitude.data()[0] == 0) return 0;
  size_t bits = (magnitude.size() - 1) * 8;
  for (BYTE top = magnitude.data()[0]; top; top >>= 1) ++bits;
  return bits;
}

// Writes `magnitude` as `width` bytes, least significant first; false when it
// does not fit.
bool PutLe(der::Span magnitude, size_t width, BYTE* out) {
  if (BitLength(magnitude) > width * 8) return false;
  std::memset(out, 0, width);
  const BYTE* p = magnitude.data();
  for (size_t i = 0, n = magnitude.size(); i < n && i < width; ++i) out[i] = p[n - 1 - i];
  return true;
}

size_t DerLengthSize(size_t length) {
  size_t size = 1;
  if (length >= 0x80)
    for (; length; length >>= 8) ++size;
  return size;
}

BYTE* PutDerHeader(BYTE tag, size_t length, BYTE* out) {
  *out++ = tag;
  if (length < 0x80) {
    *out++ = static_cast<BYTE>(length);
    return out;
  }
  size_t bytes = DerLengthSize(length) - 1;
  *out++ = static_cast<BYTE>(0x80 | bytes);
  for (size_t i = bytes; i > 0; --i) *out++ = static_cast<BYTE>(length >> (8 * (i - 1)));
  return out;
}

// INTEGER content length of a big-endian magnitude (leading zeros dropped, a
// zero byte in front of a set top bit).
size_t IntegerContentSize(der::Span magnitude) {
  der::Span m = Magnitude(magnitude);
  if (m.empty()) return 1;
  return m.size() + ((m.data()[0] & 0x80) ? 1 : 0);
}

// RSAPrivateKey DER of the fields, sized exactly first so that the key's
// bytes are written once into a buffer that never moves.
void WriteRsaPrivateKey(const der::Span (&fields)[kRsaFields], std::vector<BYTE>* out) {
  size_t content = 3;  // version 0
  for (const der::Span& field : fields) {
    size_t n = IntegerContentSize(field);
    content += 1 + DerLengthSize(n) + n;
  }
  out->assign(1 + DerLengthSize(content) + content, 0);
  BYTE* p = PutDerHeader(der::kSequence, content, out->data());
  *p++ = der::kInteger;
  *p++ = 1;
  *p++ = 0;
  for (const der::Span& field : fields) {
    der::Span m = Magnitude(field);
    size_t n = IntegerContentSize(field);
    p = PutDerHeader(der::kInteger, n, p);
    if (m.empty()) {
      *p++ = 0;
      continue;
    }
    if (n > m.size()) *p++ = 0;
    std::memcpy(p, m.data(), m.size());
    p += m.size();
  }
}

}  // namespace

bool RsaPrivateDerToBlob(der::Span rsaPrivateKey, ALG_ID algId, std::vector<BYTE>* blob) {
  der::Span f[kRsaFields];
  if (!ReadRsaPrivateKey(rsaPrivateKey, f)) return false;
  size_t bits = BitLength(f[kN]);
  if (bits == 0 || bits > 16384 || BitLength(f[kE]) > 32 || BitLength(f[kE]) == 0) return false;
  DWORD pubexp = 0;
  for (size_t i = 0; i < f[kE].size(); ++i) pubexp = (pubexp << 8) | f[kE].data()[i];
  const size_t full = (bits + 7) / 8, half = (bits + 15) / 16;
  blob->clear();
  blob->reserve(20 + 2 * full + 5 * half);
  blob->push_back(PRIVATEKEYBLOB);
  blob->push_back(CUR_BLOB_VERSION);
  blob->push_back(0);
  blob->push_back(0);
  AppendDword(algId, blob);
  AppendDword(RSA2_MAGIC, blob);
  AppendDword(static_cast<DWORD>(bits), blob);
  AppendDword(pubexp, blob);
  blob->resize(20 + 2 * full + 5 * half);
  BYTE* p = blob->data() + 20;
  for (const BlobPart& part : kPrivateBlobLayout) {
    const size_t width = part.full ? full : half;
    if (!PutLe(f[part.field], width, p)) {
      OPENSSL_cleanse(blob->data(), blob->size());
      blob->clear();
      return false;
    }
    p += width;
  }
  return true;
}

bool RsaPrivateBlobToDer(const BYTE* blob, size_t size, std::vector<BYTE>* out) {
  if (size < 20 || blob[0] != PRIVATEKEYBLOB || ReadDword(blob + 8) != RSA2_MAGIC) return false;
  const DWORD bits = ReadDword(blob + 12), pubexp = ReadDword(blob + 16);
  if (bits == 0 || bits > 16384 || pubexp == 0) return false;
  const size_t full = (bits + 7) / 8, half = (bits + 15) / 16;
  if (size < 20 + 2 * full + 5 * half) return false;
  // The blob's integers turned most significant byte first, side by side.
  std::vector<BYTE> bigEndian(2 * full + 5 * half + 4);
  const BYTE* in = blob + 20;
  BYTE* at = bigEndian.data();
  der::Span f[kRsaFields];
  for (const BlobPart& part : kPrivateBlobLayout) {
    const size_t width = part.full ? full : half;
    for (size_t i = 0; i < width; ++i) at[i] = in[width - 1 - i];
    f[part.field] = der::Span(at, width);
    in += width;
    at += width;
  }
  for (int b = 0; b < 4; ++b) at[b] = static_cast<BYTE>(pubexp >> (8 * (3 - b)));
  f[kE] = der::Span(at, 4);
  WriteRsaPrivateKey(f, out);
  OPENSSL_cleanse(bigEndian.data(), bigEndian.size());
  return true;
}

bool RsaToPrivateKeyDer(EVP_PKEY* pkey, std::vector<BYTE>* out) {
  std::vector<BYTE> blob;
  bool ok = RsaToBlob(pkey, CALG_RSA_KEYX, true, &blob) && RsaPrivateBlobToDer(blob.data(), blob.size(), out);
  OPENSSL_cleanse(blob.data(), blob.size());
  return ok;
}

PkeyPtr RsaFromPrivateKeyDer(const BYTE* der, size_t size) {
  der::Span f[kRsaFields];
  if (!ReadRsaPrivateKey(der::Span(der, size), f)) return nullptr;
  BnPtr parts[kRsaFields];
  for (int i = 0; i < kRsaFields; ++i) {
    parts[i].reset(BN_bin2bn(f[i].data(), static_cast<int>(f[i].size()), nullptr));
    if (!parts[i]) return nullptr;
  }
  return KeyFromParts(RsaParts{std::move(parts[kN]), std::move(parts[kE]), std::move(parts[kD]), std::move(parts[kP]),
                               std::move(parts[kQ]), std::move(parts[kDp]), std::move(parts[kDq]),
                               std::move(parts[kQinv])},
                      true);
}

}  // namespace kv::platform::crypt
