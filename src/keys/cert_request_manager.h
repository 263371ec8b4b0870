// CCertRequestManager: the engine's enrolment work. It chooses the provider
// new keys are generated in, generates key pairs with their PKCS#10
// requests, remembers every generated key in a PendingRequest record under
// HKEY_CURRENT_USER, and installs the certificate the authority issues
// against the key it was requested for.
//
// Like every object below the engine it reports through its own result code
// and platform error; the engine operation copies both into its error state.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "kvseam/owned_handles.h"
#include "vocabulary/error_codes.h"

// The provider every new key is generated in, whatever name the caller asks
// for.
inline constexpr char kRequestProviderName[] = "Microsoft Enhanced Cryptographic Provider v1.0";
// Key generation tries at most this many keys before it gives up on weak ones.
inline constexpr int kMaxKeyAttempts = 20;
// The folder under HKEY_CURRENT_USER that holds the records' folder.
inline constexpr char kRegistryRoot[] = "Software\\VELK\\";
// Code of a failed public-key export or record creation; it has no entry of
// its own in the message table, so callers see the table's default text.
inline constexpr ErrorCode kErrPendingRecord = 5;

class CCertRequestManager {
 public:
  CCertRequestManager();
  CCertRequestManager(const CCertRequestManager&) = delete;
  CCertRequestManager& operator=(const CCertRequestManager&) = delete;

  // --- provider choice ---
  // Selects the provider for the next keys; Code() 0, 5005 or 5046.
  void ChooseProvider(const std::string& name);

  // --- request settings ---
  void SetRegistryBase(const std::string& name);
  // 1024, 2048 and 4096 only; else 5301 and the size stays as it was.
  ErrorCode SetKeyBits(LONG bits);
  // 0, 2 and 3 as given, anything else 1.
  void SetKeyFlagsMode(LONG flags);
  // AT_SIGNATURE as given, anything else AT_KEYEXCHANGE.
  void SetKeySpec(DWORD spec);
  // Forgets the last step's outcome (code and platform number).
  void ClearError() { Fail(ERR_SUCCESS); }

  // --- request generation ---
  // One key in the current slot and its request text (kept as the text for
  // signing, the one for encryption emptied); empty on failure.
  std::string CreateRequest(const std::u16string& commonName);
  // A signature key and an exchange key: texts kept as the two request
  // texts, both empty on failure.
  ErrorCode CreateRequestPair(const std::u16string& commonName);
  // The texts of the last request call, which GetCsrForSign and
  // GetCsrForEncrypt answer until the next one.
  const std::string& CsrForSign() const { return m_csrForSign; }
  const std::string& CsrForEncrypt() const { return m_csrForEncrypt; }
  void ClearRequestTexts() {
    m_csrForSign.clear();
    m_csrForEncrypt.clear();
  }
  // True unless the key's private parts are consistent with each other.
  bool IsWeakRsaKey(HCRYPTKEY key);
  // Whether the user can write under the records' root.
  bool CanWriteRegistry();

  // --- acceptance ---
  // Installs an issued certificate (Base64 or PEM; a PKCS#7 bundle or one
  // certificate) and its authorities.
  ErrorCode Accept(const std::string& text);
  // True when `cert` is an authority certificate (stored or not).
  bool InstallCaCertificate(PCCERT_CONTEXT cert);
  // True when `cert`, signed by its issuer (among `delivered` or in the
  // user's authority stores), was bound to its pending key and added to "MY".
  bool InstallUserCertificate(PCCERT_CONTEXT cert, const std::vector<PCCERT_CONTEXT>& delivered);
  // The store an authority certificate belongs in ("ROOT" for self-issued,
  // "CA" for certificate signers), or null for any other certificate.
  static const char* AuthorityStore(PCCERT_CONTEXT cert);

  // The outcome of the manager's last step, which the engine operation
  // records through its own verbs. The manager keeps its own outcome, apart
  // from the engine's error state, and changes it only through the verbs
  // below.
  ErrorCode Code() const { return m_resultCode; }
  DWORD PlatformError() const { return m_resultPlatformError; }

  LONG m_keyBits = 2048;
  std::string m_providerName = kRequestProviderName;
  DWORD m_providerType = PROV_RSA_FULL;
  std::vector<std::string> m_providerNames;
  DWORD m_keySpec = AT_KEYEXCHANGE;
  LONG m_keyFlagsMode = 1;
  std::string m_registryBase = "Software\\VELK\\Pellamor";

 private:
  std::string m_csrForSign;
  std::string m_csrForEncrypt;

  void Fail(ErrorCode code, DWORD platformError = 0) {
    m_resultCode = code;
    m_resultPlatformError = platformError;
  }
  // Fails with the platform number the failing step already noted.
  void FailWithNotedError(ErrorCode code) { m_resultCode = code; }
  void NotePlatformError(DWORD error) { m_resultPlatformError = error; }
  void Succeed() { m_resultCode = ERR_SUCCESS; }

  ErrorCode m_resultCode = ERR_SUCCESS;
  DWORD m_resultPlatformError = 0;
  // Checks shared by one request and a pair: the registry probe and the
  // arguments.
  bool PrepareRequest(const std::u16string& commonName);
  // Generates one key in m_keySpec, its request text and its record.
  std::string GenerateOne(const std::u16string& commonName, const std::string& dateTime);
  // Acquires a new key set under `container` and fills it with a key that
  // passes the weak-key check; *containerMade tells whether the key set
  // exists afterwards (also on failure).
  bool GenerateKey(const std::string& container, kv::OwnedProvider* prov, kv::OwnedKey* key, bool* containerMade);
  DWORD KeyGenerationFlags() const;
};
