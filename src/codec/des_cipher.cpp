// CDesCipher: key parts, padding and the CBC pass over the caller's bytes.
#include "codec/des_cipher.h"

#include <cstring>

namespace {

size_t KeyLengthFor(ALG_ID algId) {
  switch (algId) {
    case CALG_DES: return 8;
    case CALG_3DES_112: return 16;
    case CALG_3DES: return 24;
    default: return 0;
  }
}

}  // namespace

CDesCipher::~CDesCipher() {
  // Key material does not outlive the object.
  std::memset(m_schedules, 0, sizeof(m_schedules));
  if (!m_keyBytes.empty()) std::memset(m_keyBytes.data(), 0, m_keyBytes.size());
}

void CDesCipher::SetAlgorithm(ALG_ID algId) {
  m_algId = (algId == CALG_DES || algId == CALG_3DES || algId == CALG_3DES_112) ? algId : ALG_ID(CALG_DES);
}

void CDesCipher::SetKey(const void* bytes, int32_t length) {
  if (!m_keyBytes.empty()) std::memset(m_keyBytes.data(), 0, m_keyBytes.size());
  m_keyBytes.clear();
  if (bytes == nullptr || length < 1) return;
  const BYTE* p = static_cast<const BYTE*>(bytes);
  m_keyBytes.assign(p, p + length);
}

bool CDesCipher::Encrypt(const void* data, int32_t length) {
  Clear();
  const size_t keyLength = KeyLengthFor(m_algId);
  // A key shorter than the algorithm needs would be read past its end.
  if (data == nullptr || length <= 0 || keyLength == 0 || m_keyBytes.size() < keyLength) return false;
  if (length > INT32_MAX - 8) return false;
  const int32_t padding = 8 - length % 8;
  if (!Allocate(length + padding)) return false;

  const BYTE* key = m_keyBytes.data();
  const bool triple = m_algId != CALG_DES;
  kv::des::MakeSchedule(key, false, &m_schedules[0]);
  if (triple) {
    kv::des::MakeSchedule(key + 8, true, &m_schedules[1]);
    kv::des::MakeSchedule(m_algId == CALG_3DES ? key + 16 : key, false, &m_schedules[2]);
  }
  const kv::des::Schedule* k2 = triple ? &m_schedules[1] : nullptr;
  const kv::des::Schedule* k3 = triple ? &m_schedules[2] : nullptr;
  std::memcpy(m_chain, m_iv, sizeof(m_chain));

  const size_t whole = static_cast<size_t>(length) / 8;
  BYTE* out = Data();
  kv::des::CbcEncrypt(m_schedules[0], k2, k3, m_chain, static_cast<const BYTE*>(data), out, whole);
  BYTE last[8];
  const size_t rest = static_cast<size_t>(length) % 8;
  std::memcpy(last, static_cast<const BYTE*>(data) + whole * 8, rest);
  std::memset(last + rest, padding, 8 - rest);
  kv::des::CbcEncrypt(m_schedules[0], k2, k3, m_chain, last, out + whole * 8, 1);
  return true;
}
