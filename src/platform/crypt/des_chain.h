// DES and triple-DES in CBC mode for the provider's session keys, on the
// engine's own block cipher (the same code as its codec), which decrypts
// several independent blocks side by side.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <vector>

#include "des/des_core.h"

namespace kv::platform::crypt {

// The key schedules and chaining value of one direction of one key.
class DesChain {
 public:
  ~DesChain();
  // Schedules for `algId` (CALG_DES, CALG_3DES_112, CALG_3DES) from `secret`
  // of the algorithm's length, chaining from `iv` (8 bytes, or empty for
  // zeros). Null for any other algorithm or key length.
  static std::shared_ptr<DesChain> Create(ALG_ID algId, const std::vector<BYTE>& secret,
                                          const std::vector<BYTE>& iv, bool encrypt);

  // Whole blocks, in place; `size` is a multiple of 8.
  void Run(BYTE* data, DWORD size);

 private:
  bool m_encrypt = true;
  bool m_triple = false;
  kv::des::Schedule m_schedules[3] = {};
  BYTE m_chain[8] = {};
};

// Whether DesChain serves this algorithm in this mode.
bool DesChainServes(ALG_ID algId, DWORD mode);

}  // namespace kv::platform::crypt
