// Keys and certificates on PKCS#11 tokens, as the smart-card provider serves
// them: one container per key, named after its token and its CKA_ID; one
// logged-in session per token, kept while the token stays in its reader.
// Failures leave the value a card's provider reports as the last error:
// SCARD_E_NO_READERS_AVAILABLE (no module or slot), SCARD_W_REMOVED_CARD
// (the token is gone), SCARD_W_WRONG_CHV, SCARD_W_CHV_BLOCKED,
// SCARD_W_CANCELLED_BY_USER (PIN), NTE_BAD_KEYSET (no such key).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ossl/owned.h"

namespace kv::platform::crypt {

struct TokenCertificate {
  std::vector<BYTE> encoded;
  std::u16string container;
};

// Certificates of every present token that carry a CKA_ID, in slot order.
// *generation names the present tokens and what this process wrote to them:
// while it is unchanged the listing is too.
void ListTokenCertificates(std::vector<TokenCertificate>* certificates, std::string* generation);

class TokenSession;

// The key a container names.
class TokenKey {
 public:
  // False with the last error set when the token is absent or the name is
  // not a token container.
  static std::shared_ptr<TokenKey> Open(const std::u16string& container);

  const std::string& TokenLabel() const { return label_; }
  // The public half: from the token's certificate or public key of the same
  // CKA_ID, else read from the private key (which may ask for the PIN).
  SharedPkey PublicKey(bool silent);
  // The token's certificate of the same CKA_ID (empty when none).
  std::vector<BYTE> Certificate();
  // CKM_RSA_PKCS over `input` (a DigestInfo, or a bare digest): the signature
  // most significant byte first. Asks for the PIN unless the session has it.
  bool Sign(const std::vector<BYTE>& input, bool silent, std::vector<BYTE>* signature);
  // Writes `encoded` to the token as the key's certificate (C_CreateObject).
  bool StoreCertificate(const std::vector<BYTE>& encoded, bool silent);

 private:
  std::shared_ptr<TokenSession> session_;
  std::string label_;
  std::vector<BYTE> id_;
  // Read once per context (under the session's lock): the token's objects
  // do not change under a logged-in session but for what we write, and a
  // private key's handle lasts as long as the session it was found in.
  bool certificateRead_ = false;
  std::vector<BYTE> certificate_;
  SharedPkey publicKey_;
  unsigned long keyHandle_ = 0;
  unsigned sessionEpoch_ = 0;
};

}  // namespace kv::platform::crypt
