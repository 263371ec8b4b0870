// Token sessions, PIN login, signing and certificate writes on PKCS#11
// tokens.
#include "crypt/token_keys.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "crypt/out_buffer.h"
#include "crypt/token_slots.h"
#include "kvwin/desktop.h"

namespace kv::platform::crypt {

// One session per token, opened read-write on first use and logged in when a
// private-key operation needs it; dropped when the token leaves its reader,
// so a token put back asks for its PIN again, as a card does.
class TokenSession {
 public:
  CK_FUNCTION_LIST* functions = nullptr;
  CK_SLOT_ID slot = 0;
  std::string label;
  std::mutex mutex;
  CK_SESSION_HANDLE handle = CK_INVALID_HANDLE;
  unsigned epoch = 0;  // counts the sessions opened: object handles last one
};

namespace {

bool FailWith(CK_RV rv) { return Fail(CardError(rv)) != FALSE; }

std::shared_ptr<TokenSession> SessionFor(const PresentToken& token) {
  static std::mutex mutex;
  static auto* sessions = new std::map<std::string, std::shared_ptr<TokenSession>>();  // for the process
  std::lock_guard<std::mutex> lock(mutex);
  std::string key = std::to_string(reinterpret_cast<uintptr_t>(token.functions)) + "/" +
                    std::to_string(token.slot) + "/" + token.label + "/" + token.serial;
  std::shared_ptr<TokenSession>& session = (*sessions)[key];
  if (!session) {
    session = std::make_shared<TokenSession>();
    session->functions = token.functions;
    session->slot = token.slot;
    session->label = token.label;
  }
  return session;
}

// Under the session's lock: an open session, reopened when the last one was
// lost with its token.
CK_RV OpenLocked(TokenSession& s) {
  CK_FUNCTION_LIST* f = s.functions;
  if (s.handle != CK_INVALID_HANDLE) {
    CK_SESSION_INFO info{};
    CK_RV rv = f->C_GetSessionInfo(s.handle, &info);
    if (rv == CKR_OK) return CKR_OK;
    s.handle = CK_INVALID_HANDLE;
    if (!Removed(rv)) return rv;
    // The token came back: a new session, and a new PIN.
  }
  CK_RV rv = f->C_OpenSession(s.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s.handle);
  if (rv == CKR_OK) ++s.epoch;
  return rv;
}

// No module result: a silent context refused to ask for the PIN.
constexpr CK_RV kSilentRefusal = CKR_VENDOR_DEFINED | 0x4B56;

CK_RV LoginLocked(TokenSession& s, bool silent) {
  CK_FUNCTION_LIST* f = s.functions;
  CK_SESSION_INFO info{};
  CK_RV rv = f->C_GetSessionInfo(s.handle, &info);
  if (rv != CKR_OK) return rv;
  if (info.state == CKS_RW_USER_FUNCTIONS || info.state == CKS_RO_USER_FUNCTIONS) return CKR_OK;
  CK_TOKEN_INFO token{};
  if ((rv = RetryBusy([&] { return f->C_GetTokenInfo(s.slot, &token); })) != CKR_OK) return rv;
  // A locked PIN is not asked for: no PIN could open it.
  if (token.flags & CKF_USER_PIN_LOCKED) return CKR_PIN_LOCKED;
  if (silent) return kSilentRefusal;
  if (token.flags & CKF_PROTECTED_AUTHENTICATION_PATH) {
    rv = f->C_Login(s.handle, CKU_USER, nullptr, 0);
  } else {
    TokenPinPrompt prompt = ActiveTokenPinPrompt();
    std::string pin;
    if (!prompt || !prompt(s.label, &pin)) return CKR_FUNCTION_CANCELED;
    CK_UTF8CHAR* text = reinterpret_cast<CK_UTF8CHAR*>(pin.empty() ? nullptr : &pin[0]);
    rv = RetryBusy([&] { return f->C_Login(s.handle, CKU_USER, text, pin.size()); });
    OPENSSL_cleanse(pin.empty() ? nullptr : &pin[0], pin.size());
  }
  return rv == CKR_USER_ALREADY_LOGGED_IN ? CKR_OK : rv;
}

bool FailLocked(TokenSession& s, CK_RV rv) {
  if (Removed(rv)) s.handle = CK_INVALID_HANDLE;
  if (rv == kSilentRefusal) return Fail(NTE_SILENT_CONTEXT) != FALSE;
  return FailWith(rv);
}

CK_OBJECT_HANDLE FindLocked(TokenSession& s, CK_OBJECT_CLASS klass, const std::vector<BYTE>& id, CK_RV* rv) {
  CK_FUNCTION_LIST* f = s.functions;
  CK_ATTRIBUTE query[] = {{CKA_CLASS, &klass, sizeof(klass)},
                          {CKA_ID, const_cast<BYTE*>(id.data()), static_cast<CK_ULONG>(id.size())}};
  CK_OBJECT_HANDLE found = CK_INVALID_HANDLE;
  CK_ULONG count = 0;
  if ((*rv = f->C_FindObjectsInit(s.handle, query, 2)) != CKR_OK) return CK_INVALID_HANDLE;
  *rv = f->C_FindObjects(s.handle, &found, 1, &count);
  f->C_FindObjectsFinal(s.handle);
  return *rv == CKR_OK && count == 1 ? found : CK_INVALID_HANDLE;
}

bool AttributeLocked(TokenSession& s, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, std::vector<BYTE>* value,
                     CK_RV* rv) {
  return ReadAttribute(s.functions, s.handle, object, type, value, rv);
}

SharedPkey RsaFromParts(const std::vector<BYTE>& modulus, const std::vector<BYTE>& exponent) {
  BnPtr n(BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr));
  BnPtr e(BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr));
  OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
  OSSL_PARAM* params = nullptr;
  EVP_PKEY* pkey = nullptr;
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  if (n && e && build && OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, n.get()) &&
      OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, e.get()) && (params = OSSL_PARAM_BLD_to_param(build)) &&
      ctx && EVP_PKEY_fromdata_init(ctx) == 1) {
    if (EVP_PKEY_fromdata(ctx, &pkey, EVP_PKEY_PUBLIC_KEY, params) != 1) pkey = nullptr;
  }
  EVP_PKEY_CTX_free(ctx);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(build);
  return pkey ? ShareKey(pkey) : nullptr;
}

SharedPkey KeyOfCertificate(const std::vector<BYTE>& encoded) {
  const unsigned char* p = encoded.data();
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(encoded.size())));
  EVP_PKEY* key = cert ? X509_get_pubkey(cert.get()) : nullptr;
  return key ? ShareKey(key) : nullptr;
}

}  // namespace

std::shared_ptr<TokenKey> TokenKey::Open(const std::u16string& container) {
  std::string label, serial;
  std::vector<BYTE> id;
  if (!ParseContainer(container, &label, &serial, &id)) {
    SetLastError(static_cast<DWORD>(NTE_BAD_KEYSET));
    return nullptr;
  }
  bool anySlot = false;
  for (const PresentToken& token : PresentTokens(&anySlot)) {
    if (token.label != label || token.serial != serial) continue;
    auto key = std::make_shared<TokenKey>();
    key->session_ = SessionFor(token);
    key->label_ = label;
    key->id_ = std::move(id);
    return key;
  }
  SetLastError(static_cast<DWORD>(anySlot ? SCARD_W_REMOVED_CARD : SCARD_E_NO_READERS_AVAILABLE));
  return nullptr;
}

std::vector<BYTE> TokenKey::Certificate() {
  std::lock_guard<std::mutex> lock(session_->mutex);
  if (certificateRead_) return certificate_;
  CK_RV rv = OpenLocked(*session_);
  if (rv != CKR_OK) return {};
  CK_OBJECT_HANDLE cert = FindLocked(*session_, CKO_CERTIFICATE, id_, &rv);
  if (rv != CKR_OK) return {};
  if (cert != CK_INVALID_HANDLE && !AttributeLocked(*session_, cert, CKA_VALUE, &certificate_, &rv)) return {};
  certificateRead_ = true;
  return certificate_;
}

SharedPkey TokenKey::PublicKey(bool silent) {
  std::vector<BYTE> certificate = Certificate();
  std::lock_guard<std::mutex> lock(session_->mutex);
  if (publicKey_) return publicKey_;
  if ((publicKey_ = certificate.empty() ? nullptr : KeyOfCertificate(certificate))) return publicKey_;
  TokenSession& s = *session_;
  CK_RV rv = OpenLocked(s);
  if (rv != CKR_OK) return FailLocked(s, rv), nullptr;
  std::vector<BYTE> modulus, exponent;
  CK_OBJECT_HANDLE object = FindLocked(s, CKO_PUBLIC_KEY, id_, &rv);
  if (object == CK_INVALID_HANDLE) {
    // A private key may be hidden until the PIN is given.
    if ((rv = LoginLocked(s, silent)) != CKR_OK) return FailLocked(s, rv), nullptr;
    object = FindLocked(s, CKO_PRIVATE_KEY, id_, &rv);
  }
  if (object == CK_INVALID_HANDLE) {
    if (rv == CKR_OK) Fail(NTE_BAD_KEYSET);
    else FailLocked(s, rv);
    return nullptr;
  }
  if (!AttributeLocked(s, object, CKA_MODULUS, &modulus, &rv) ||
      !AttributeLocked(s, object, CKA_PUBLIC_EXPONENT, &exponent, &rv)) {
    if (rv == CKR_OK) Fail(NTE_BAD_KEY);
    else FailLocked(s, rv);
    return nullptr;
  }
  publicKey_ = RsaFromParts(modulus, exponent);
  if (!publicKey_) Fail(NTE_BAD_KEY);
  return publicKey_;
}

bool TokenKey::Sign(const std::vector<BYTE>& input, bool silent, std::vector<BYTE>* signature) {
  std::lock_guard<std::mutex> lock(session_->mutex);
  TokenSession& s = *session_;
  CK_FUNCTION_LIST* f = s.functions;
  CK_RV rv = OpenLocked(s);
  if (rv == CKR_OK) rv = LoginLocked(s, silent);
  if (rv != CKR_OK) return FailLocked(s, rv);
  if (keyHandle_ == CK_INVALID_HANDLE || sessionEpoch_ != s.epoch) {
    keyHandle_ = FindLocked(s, CKO_PRIVATE_KEY, id_, &rv);
    sessionEpoch_ = s.epoch;
  }
  CK_OBJECT_HANDLE key = keyHandle_;
  if (key == CK_INVALID_HANDLE) return rv == CKR_OK ? Fail(NTE_BAD_KEYSET) != FALSE : FailLocked(s, rv);
  CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
  if ((rv = f->C_SignInit(s.handle, &mechanism, key)) != CKR_OK) {
    keyHandle_ = CK_INVALID_HANDLE;
    return FailLocked(s, rv);
  }
  CK_ULONG length = 0;
  std::vector<BYTE> data(input);
  if ((rv = f->C_Sign(s.handle, data.data(), data.size(), nullptr, &length)) != CKR_OK) return FailLocked(s, rv);
  signature->resize(length);
  if ((rv = f->C_Sign(s.handle, data.data(), data.size(), signature->data(), &length)) != CKR_OK) {
    return FailLocked(s, rv);
  }
  signature->resize(length);
  return true;
}

bool TokenKey::StoreCertificate(const std::vector<BYTE>& encoded, bool silent) {
  const unsigned char* p = encoded.data();
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(encoded.size())));
  if (!cert) return Fail(NTE_BAD_DATA) != FALSE;
  auto der = [](const auto* value, auto encode) {
    std::vector<BYTE> out(static_cast<size_t>(std::max(encode(value, nullptr), 0)));
    unsigned char* q = out.data();
    if (!out.empty()) encode(value, &q);
    return out;
  };
  std::vector<BYTE> subject = der(X509_get_subject_name(cert.get()), i2d_X509_NAME);
  std::vector<BYTE> issuer = der(X509_get_issuer_name(cert.get()), i2d_X509_NAME);
  std::vector<BYTE> serial = der(X509_get_serialNumber(cert.get()), i2d_ASN1_INTEGER);
  std::lock_guard<std::mutex> lock(session_->mutex);
  TokenSession& s = *session_;
  CK_RV rv = OpenLocked(s);
  if (rv == CKR_OK) rv = LoginLocked(s, silent);
  if (rv != CKR_OK) return FailLocked(s, rv);
  CK_OBJECT_CLASS klass = CKO_CERTIFICATE;
  CK_CERTIFICATE_TYPE type = CKC_X_509;
  CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
  std::vector<BYTE> value(encoded), id(id_);
  CK_ATTRIBUTE attributes[] = {
      {CKA_CLASS, &klass, sizeof(klass)},
      {CKA_CERTIFICATE_TYPE, &type, sizeof(type)},
      {CKA_TOKEN, &yes, sizeof(yes)},
      {CKA_PRIVATE, &no, sizeof(no)},
      {CKA_ID, id.data(), static_cast<CK_ULONG>(id.size())},
      {CKA_SUBJECT, subject.data(), static_cast<CK_ULONG>(subject.size())},
      {CKA_ISSUER, issuer.data(), static_cast<CK_ULONG>(issuer.size())},
      {CKA_SERIAL_NUMBER, serial.data(), static_cast<CK_ULONG>(serial.size())},
      {CKA_VALUE, value.data(), static_cast<CK_ULONG>(value.size())},
  };
  CK_OBJECT_HANDLE created = CK_INVALID_HANDLE;
  rv = s.functions->C_CreateObject(s.handle, attributes, sizeof(attributes) / sizeof(attributes[0]), &created);
  if (rv != CKR_OK) return FailLocked(s, rv);
  NoteTokenWrite();
  certificate_ = encoded;
  certificateRead_ = true;
  return true;
}

}  // namespace kv::platform::crypt
