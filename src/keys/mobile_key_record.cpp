// Building and encrypting the mobile key record.
#include "keys/mobile_key_record.h"

#include <cstring>

#include "cert/cert_info.h"
#include "codec/des_cipher.h"
#include "codec/digests.h"
#include "kvseam/owned_handles.h"

namespace kv::keys {
namespace {

constexpr char kRecordMagic[4] = {'V', 'E', 'L', 'K'};
constexpr char kKeySuffix[4] = {'Q', 'M', 'Z', 'B'};
constexpr int32_t kThumbprintSize = 20;
constexpr int32_t kTimeSize = 14;
// Magic, L, E, the three length fields, thumbprint and the two times.
constexpr int32_t kFixedSize = 4 + 4 + 4 + 3 * 4 + kThumbprintSize + 2 * kTimeSize;
// BLOBHEADER (8) and RSAPUBKEY (magic, bit length, public exponent).
constexpr int32_t kBlobHeaderSize = 20;
constexpr DWORD kMaxModulusBits = 16384;
constexpr DWORD kRsaPrivateMagic = 0x32415352;  // "RSA2" of an RSAPUBKEY in a private-key blob

DWORD ReadLe32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
         static_cast<DWORD>(p[3]) << 24;
}

// Writes the record's fields in order into zeroed storage of the exact size.
class RecordWriter {
 public:
  explicit RecordWriter(BYTE* out) : p_(out) {}
  void Bytes(const void* data, size_t n) {
    if (n) std::memcpy(p_, data, n);
    p_ += n;
  }
  void Be32(DWORD v) {
    const BYTE b[4] = {static_cast<BYTE>(v >> 24), static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 8),
                       static_cast<BYTE>(v)};
    Bytes(b, 4);
  }
  // Little-endian bytes of the platform turned most significant first.
  void Reversed(const BYTE* data, size_t n) {
    for (size_t i = 0; i < n; ++i) p_[i] = data[n - 1 - i];
    p_ += n;
  }
  // A fixed-width text field: cut or zero-filled to `width`.
  void Fixed(const std::string& text, size_t width) {
    std::memcpy(p_, text.data(), text.size() < width ? text.size() : width);
    p_ += width;
  }
  BYTE* Position() const { return p_; }

 private:
  BYTE* p_;
};

}  // namespace

ErrorCode ExportPrivateKeyBlob(HCRYPTPROV provider, DWORD keySpec, CSecretBuffer* blob, DWORD* error) {
  HCRYPTKEY userKey = 0;
  if (!CryptGetUserKey(provider, keySpec, &userKey)) {
    *error = GetLastError();
    return ERR_NO_PRIVATE_KEY;
  }
  const kv::OwnedKey owned(userKey);
  const HCRYPTKEY key = owned.get();
  ErrorCode code = ERR_SUCCESS;
  DWORD length = 0;
  if (!CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &length)) {
    *error = GetLastError();
    code = ERR_KEY_NOT_EXPORTABLE;
  } else if (!blob->Allocate(static_cast<int32_t>(length))) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    code = ERR_KEY_NOT_EXPORTABLE;
  } else if (!CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob->Data(), &length)) {
    *error = GetLastError();
    blob->Wipe();
    code = ERR_KEY_NOT_EXPORTABLE;
  }
  return code;
}

bool LayOutMobileKeyRecord(PCCERT_CONTEXT certificate, const CByteBuffer& blob, CSecretBuffer* record) {
  record->Wipe();
  if (!certificate || blob.Size() < kBlobHeaderSize) return false;
  const BYTE* b = blob.Data();
  const DWORD bits = ReadLe32(b + 12);
  const DWORD exponent = ReadLe32(b + 16);
  // The blob must be a whole RSA private key of a modulus length the record
  // can carry: a short or foreign blob would be read past its end.
  if (b[0] != PRIVATEKEYBLOB || ReadLe32(b + 8) != kRsaPrivateMagic || bits == 0 || bits % 16 != 0 ||
      bits > kMaxModulusBits)
    return false;
  const size_t full = bits / 8, half = bits / 16;
  const size_t keySize = 2 * full + 5 * half;
  if (static_cast<size_t>(blob.Size()) < kBlobHeaderSize + keySize) return false;

  CCertInfo info(certificate);
  const std::string commonName = info.GetSubjectCN();
  const CRYPT_INTEGER_BLOB& serial = certificate->pCertInfo->SerialNumber;
  BYTE thumbprint[kThumbprintSize] = {};
  DWORD thumbprintSize = sizeof thumbprint;
  if (!CertGetCertificateContextProperty(certificate, CERT_HASH_PROP_ID, thumbprint, &thumbprintSize)) return false;

  const size_t total = kFixedSize + keySize + commonName.size() + serial.cbData + certificate->cbCertEncoded;
  if (total > 0x7FFFFFFF || !record->Allocate(static_cast<int32_t>(total))) return false;
  RecordWriter w(record->Data());
  w.Bytes(kRecordMagic, sizeof kRecordMagic);
  w.Be32(bits);
  w.Be32(exponent);
  // Blob order: N, P, Q, DP, DQ, QP, D, each least significant byte first.
  const BYTE* key = b + kBlobHeaderSize;
  const size_t widths[] = {full, half, half, half, half, half, full};
  for (size_t width : widths) {
    w.Reversed(key, width);
    key += width;
  }
  w.Be32(static_cast<DWORD>(commonName.size()));
  w.Bytes(commonName.data(), commonName.size());
  w.Be32(serial.cbData);
  w.Reversed(serial.pbData, serial.cbData);
  w.Bytes(thumbprint, sizeof thumbprint);
  w.Fixed(info.GetNotBefore(), kTimeSize);
  w.Fixed(info.GetNotAfter(), kTimeSize);
  w.Be32(certificate->cbCertEncoded);
  w.Bytes(certificate->pbCertEncoded, certificate->cbCertEncoded);
  return w.Position() == record->Data() + total;
}

ErrorCode BuildMobileKeyRecord(PCCERT_CONTEXT certificate, const std::string& password, const CByteBuffer& blob,
                               std::string* base64) {
  base64->clear();
  CSecretBuffer record;
  if (!LayOutMobileKeyRecord(certificate, blob, &record)) return ERR_ENCRYPT;

  CSha1Digest digest;
  if (!digest.Compute(password.data(), static_cast<int32_t>(password.size()))) return ERR_DIGEST;
  BYTE key[24];
  std::memcpy(key, digest.Data(), 20);
  std::memcpy(key + 20, kKeySuffix, sizeof kKeySuffix);
  SecureZeroMemory(digest.Data(), static_cast<SIZE_T>(digest.Size()));

  CDesCipher cipher;
  cipher.SetAlgorithm(CALG_3DES);
  cipher.SetKey(key, sizeof key);
  SecureZeroMemory(key, sizeof key);
  CByteBuffer text;
  if (!cipher.Encrypt(record.Data(), record.Size()) || !text.EncodeBase64(cipher.Data(), cipher.Size()) ||
      text.Empty())
    return ERR_ENCRYPT;
  base64->assign(text.c_str(), static_cast<size_t>(text.Size()));
  return ERR_SUCCESS;
}

}  // namespace kv::keys
