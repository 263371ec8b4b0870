// CSymCipher: key set-up through the provider and the block-by-block
// CryptEncrypt / CryptDecrypt loops.
#include "crypt/sym_cipher.h"

#include <cstring>

namespace {

// The provider the cipher runs in: present on every supported system and
// able to import DES and both triple-DES keys as plain-text blobs.
constexpr char kProviderName[] = MS_ENHANCED_PROV_A;

// BLOBHEADER, key length, key bytes.
constexpr size_t kBlobHeaderSize = sizeof(BLOBHEADER) + sizeof(DWORD);

}  // namespace

CSymCipher::~CSymCipher() {
  Release();
  if (!m_keyBytes.empty()) SecureZeroMemory(m_keyBytes.data(), m_keyBytes.size());
}

void CSymCipher::SetAlgorithm(ALG_ID algId) {
  m_algId = (algId == CALG_DES || algId == CALG_3DES || algId == CALG_3DES_112) ? algId : CALG_DES;
}

void CSymCipher::SetMode(DWORD mode) { m_mode = (mode >= 1 && mode <= 4) ? mode : CRYPT_MODE_CBC; }

void CSymCipher::SetKey(const BYTE* bytes, int32_t length) {
  if (!m_keyBytes.empty()) SecureZeroMemory(m_keyBytes.data(), m_keyBytes.size());
  m_keyBytes.clear();
  if (bytes && length > 0) m_keyBytes.assign(bytes, bytes + length);
}

bool CSymCipher::RecordFailure() {
  m_lastError = GetLastError();
  Release();
  return false;
}

void CSymCipher::Release() {
  m_key.reset();
  m_provider.reset();
}

bool CSymCipher::SetUp() {
  Release();
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextA(&provider, nullptr, kProviderName, PROV_RSA_FULL, 0) &&
      !CryptAcquireContextA(&provider, nullptr, kProviderName, PROV_RSA_FULL, CRYPT_NEWKEYSET))
    return RecordFailure();
  m_provider.reset(provider);
  std::vector<BYTE> blob(kBlobHeaderSize + m_keyBytes.size());
  BLOBHEADER header{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, m_algId};
  DWORD keyLength = static_cast<DWORD>(m_keyBytes.size());
  std::memcpy(blob.data(), &header, sizeof(header));
  std::memcpy(blob.data() + sizeof(header), &keyLength, sizeof(keyLength));
  if (!m_keyBytes.empty()) std::memcpy(blob.data() + kBlobHeaderSize, m_keyBytes.data(), m_keyBytes.size());
  HCRYPTKEY key = 0;
  BOOL imported = CryptImportKey(m_provider.get(), blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &key);
  DWORD importError = GetLastError();
  SecureZeroMemory(blob.data(), blob.size());
  if (!imported) {
    SetLastError(importError);
    return RecordFailure();
  }
  m_key.reset(key);
  if (!CryptSetKeyParam(m_key.get(), KP_IV, m_iv, 0)) return RecordFailure();
  if (!CryptSetKeyParam(m_key.get(), KP_MODE, reinterpret_cast<const BYTE*>(&m_mode), 0)) return RecordFailure();
  return true;
}

bool CSymCipher::Encrypt(const BYTE* data, int32_t length) {
  Clear();
  if (!data || length <= 0) {
    m_lastError = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (!SetUp()) return false;
  const size_t whole = static_cast<size_t>(length) / kBlockSize * kBlockSize;
  const size_t rest = static_cast<size_t>(length) - whole;
  // The blocks are encrypted where they are returned: no second copy of a
  // large text.
  BYTE* out = AllocateStorage(static_cast<int32_t>(whole + kBlockSize));
  if (!out) {
    Release();
    m_lastError = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  Adopt(out, static_cast<int32_t>(whole + kBlockSize));
  std::memcpy(out, data, static_cast<size_t>(length));
  bool ok = true;
  for (size_t at = 0; ok && at < whole; at += kBlockSize) {
    DWORD size = kBlockSize;
    ok = CryptEncrypt(m_key.get(), 0, FALSE, 0, out + at, &size, kBlockSize) && size == kBlockSize;
  }
  if (ok) {
    DWORD size = static_cast<DWORD>(rest);
    ok = CryptEncrypt(m_key.get(), 0, TRUE, 0, out + whole, &size, kBlockSize) && size == kBlockSize;
  }
  if (!ok) {
    SecureZeroMemory(out, whole + kBlockSize);
    Clear();
    return RecordFailure();
  }
  Release();
  return true;
}

bool CSymCipher::Decrypt(const BYTE* data, int32_t length) {
  Clear();
  if (!data || length <= 0) {
    m_lastError = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (!SetUp()) return false;
  // Decrypted in the storage it is returned in; the padding the final call
  // removes is zeroed, so the guard bytes follow the plain text.
  BYTE* out = AllocateStorage(length);
  if (!out) {
    Release();
    m_lastError = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  std::memcpy(out, data, static_cast<size_t>(length));
  // The last piece is the remaining one to eight bytes; a piece shorter than
  // a block makes the provider refuse the final call.
  const size_t last = (static_cast<size_t>(length) - 1) / kBlockSize * kBlockSize;
  bool ok = true;
  for (size_t at = 0; ok && at < last; at += kBlockSize) {
    DWORD size = kBlockSize;
    ok = CryptDecrypt(m_key.get(), 0, FALSE, 0, out + at, &size) && size == kBlockSize;
  }
  DWORD tail = static_cast<DWORD>(static_cast<size_t>(length) - last);
  if (ok) ok = CryptDecrypt(m_key.get(), 0, TRUE, 0, out + last, &tail) != FALSE;
  const size_t plainLength = ok ? last + tail : 0;
  SecureZeroMemory(out + plainLength, static_cast<size_t>(length) - plainLength);
  Adopt(out, static_cast<int32_t>(plainLength));
  if (!ok) return RecordFailure();
  Release();
  return true;
}
