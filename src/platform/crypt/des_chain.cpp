// Key parts and pass order of DES and triple-DES for the provider's CBC chain.
#include "crypt/des_chain.h"

#include <openssl/crypto.h>

#include <cstring>

namespace kv::platform::crypt {

bool DesChainServes(ALG_ID algId, DWORD mode) {
  return mode == CRYPT_MODE_CBC && (algId == CALG_DES || algId == CALG_3DES_112 || algId == CALG_3DES);
}

DesChain::~DesChain() { OPENSSL_cleanse(m_schedules, sizeof(m_schedules)); }

std::shared_ptr<DesChain> DesChain::Create(ALG_ID algId, const std::vector<BYTE>& secret,
                                           const std::vector<BYTE>& iv, bool encrypt) {
  const size_t keyBytes = algId == CALG_DES ? 8 : algId == CALG_3DES_112 ? 16 : algId == CALG_3DES ? 24 : 0;
  if (keyBytes == 0 || secret.size() != keyBytes || (!iv.empty() && iv.size() != 8)) return nullptr;
  auto chain = std::make_shared<DesChain>();
  chain->m_encrypt = encrypt;
  chain->m_triple = algId != CALG_DES;
  const BYTE* k1 = secret.data();
  const BYTE* k2 = secret.data() + 8;
  const BYTE* k3 = algId == CALG_3DES ? secret.data() + 16 : k1;  // two-key: K3 = K1
  if (!chain->m_triple) {
    kv::des::MakeSchedule(k1, !encrypt, &chain->m_schedules[0]);
  } else if (encrypt) {
    // E(K1), D(K2), E(K3)
    kv::des::MakeSchedule(k1, false, &chain->m_schedules[0]);
    kv::des::MakeSchedule(k2, true, &chain->m_schedules[1]);
    kv::des::MakeSchedule(k3, false, &chain->m_schedules[2]);
  } else {
    // D(K3), E(K2), D(K1)
    kv::des::MakeSchedule(k3, true, &chain->m_schedules[0]);
    kv::des::MakeSchedule(k2, false, &chain->m_schedules[1]);
    kv::des::MakeSchedule(k1, true, &chain->m_schedules[2]);
  }
  if (!iv.empty()) std::memcpy(chain->m_chain, iv.data(), 8);
  return chain;
}

void DesChain::Run(BYTE* data, DWORD size) {
  const kv::des::Schedule* k2 = m_triple ? &m_schedules[1] : nullptr;
  const kv::des::Schedule* k3 = m_triple ? &m_schedules[2] : nullptr;
  if (size == 8) {
    // One block, as the per-block provider calls come: the block function
    // alone, chained here, spares the CBC loop's two extra permutations of
    // the chaining value on every call.
    BYTE block[8];
    if (m_encrypt) {
      for (int i = 0; i < 8; ++i) block[i] = data[i] ^ m_chain[i];
      kv::des::EncryptBlock(m_schedules[0], k2, k3, block, data);
      std::memcpy(m_chain, data, 8);
    } else {
      std::memcpy(block, data, 8);
      kv::des::EncryptBlock(m_schedules[0], k2, k3, block, data);  // the schedules are in decryption order
      for (int i = 0; i < 8; ++i) data[i] ^= m_chain[i];
      std::memcpy(m_chain, block, 8);
    }
    return;
  }
  if (m_encrypt) {
    kv::des::CbcEncrypt(m_schedules[0], k2, k3, m_chain, data, data, size / 8);
  } else {
    kv::des::CbcDecrypt(m_schedules[0], k2, k3, m_chain, data, data, size / 8);
  }
}

}  // namespace kv::platform::crypt
