// CCapiEngine: the one object per process that carries out every operation.
// The doors (exports, scriptable object, command-line host) call it; it keeps
// the error state and everything that outlives one call.
//
// Each operation is implemented in the source file of its subsystem
// (engine/, host/, codec/, cert/, sign/, keys/, crypt/). String arguments
// arrive as BSTRs owned by the operation, which frees them on every path;
// string results are new BSTRs owned by the caller.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/byte_buffer.h"
#include "engine/error_codes.h"

class cSharedMemory;
class CCertFinder;
class CCertRequestManager;

// Defaults of the dialogs' password length range.
inline constexpr LONG kDefaultPwdMinLen = 0;
inline constexpr LONG kDefaultPwdMaxLen = 16;
// What GetPortEx answers, whatever the engine's state.
inline constexpr LONG kPortExValue = 65537;

class CCapiEngine {
 public:
  CCapiEngine();
  ~CCapiEngine();
  CCapiEngine(const CCapiEngine&) = delete;
  CCapiEngine& operator=(const CCapiEngine&) = delete;

  // --- general (DISPIDs 1-8) ---
  BSTR GetVersion();
  LONG GetErrorCode();
  BSTR GetErrorMsg();
  LONG GetCapiErrorCode();
  BSTR GetCapiErrorMsg();
  BSTR GetMacAddress();
  BSTR GetOSName();
  BSTR GetUserHomePath();
  // --- registry (20-23) ---
  BSTR RegReadHKCU(BSTR strName);
  LONG RegWriteHKCUInt(BSTR strName, LONG dw);
  LONG RegWriteHKCUStr(BSTR strName, BSTR str);
  BSTR RegReadHKLM(BSTR strName);
  // --- hashing (30-31) ---
  BSTR Hash(BSTR strPlainText, LONG dwFlags);
  BSTR HashFile(BSTR strFileName, LONG dwFlags);
  // --- requests (40-45) ---
  LONG SetProviderName(BSTR strProviderName);
  BSTR CreatePKCS10(BSTR commonName, LONG keyBits, LONG genKeyFlags);
  LONG CreatePKCS10Pair(BSTR commonName, LONG keyBits, LONG genKeyFlags);
  BSTR GetCsrForSign();
  BSTR GetCsrForEncrypt();
  LONG AcceptPKCS7(BSTR strPkcs7);
  // --- PFX files (50-64) ---
  LONG SetDefaultPfxFileName(BSTR strPrefix);
  LONG PresetPasswdLengthRange(LONG min, LONG max);
  LONG ChangePfxPasswd(BSTR strPfxPath, BSTR strPfxName, BSTR strOldPass, BSTR strNewPass, LONG dwFlags);
  LONG ChangePfxPasswdEx(BSTR strPfxPath, BSTR strPfxName, BSTR strOldPass, BSTR strNewPass, LONG dwPort,
                         LONG dwFlags);
  LONG QueryPfxInfo(BSTR strPfxPath, BSTR strPfxName, BSTR strPasswd, LONG dwFlags, LONG dwKeyUsage);
  LONG ImportPfxToIE(BSTR strPfxPath, BSTR strPfxName, BSTR strPasswd, LONG dwFlags, LONG dwKeyUsage);
  BSTR GetImportedPfxFilePath();
  BSTR GetImportedPfxFileName();
  LONG ExportPfxFromIE(BSTR strSubject, BSTR strPfxPath, BSTR strPassword, LONG dwFlags, LONG dwKeyUsage);
  BSTR ExportMobileFromPfx(BSTR strPfxPath, BSTR strPfxName, BSTR strPasswd, LONG dwFlags, LONG dwKeyUsage);
  BSTR ExportMobileFromIE(BSTR strSubject, BSTR strPasswd, LONG dwFlags, LONG dwKeyUsage);
  BSTR GetExportedPfxFilePath();
  BSTR GetExportedPfxFileName();
  // --- signer and signing (70-77) ---
  LONG SelectSigner(BSTR certFilter, LONG dwFlags, LONG dwKeyUsage);
  LONG SelectSignerEx(BSTR certFilter, BSTR strPfxPath, BSTR strPfxName, BSTR strPasswd, BSTR strCompareDate,
                      LONG dwFlags, LONG dwKeyUsage);
  BSTR GetSignerPfxFilePath();
  BSTR GetSignerPfxFileName();
  BSTR SignPkcs1(BSTR strContent, LONG dwFlags);
  BSTR SignPkcs7(BSTR strContent, LONG dwFlags);
  LONG SelectSignerEx2(BSTR certFilter, BSTR strPfxPath, BSTR strPfxName, LONG dwPort, BSTR strCompareDate,
                       LONG dwFlags, LONG dwKeyUsage);
  LONG GetPortEx();
  // --- signer certificate (80-88) ---
  BSTR GetCertB64();
  BSTR GetCertSubject();
  BSTR GetCertSubjectCN();
  BSTR GetCertIssuer();
  BSTR GetCertSerial();
  BSTR GetCertNotBefore();
  BSTR GetCertNotAfter();
  BSTR GetCertFinger();
  LONG GetCertKeyUsage();
  // --- encryption (90-93) ---
  BSTR SymEncrypt(BSTR strPlainText, BSTR strPasswdHex, LONG iAlgorithm, LONG dwFlags);
  BSTR SymDecrypt(BSTR strCipher, BSTR strPasswdHex, LONG iAlgorithm, LONG dwFlags);
  BSTR CertEncryptPkcs7(BSTR strPlainText, BSTR strCertB64, LONG iAlgorithm, LONG dwFlags);
  BSTR CertDecryptPkcs7(BSTR strCipher, LONG dwFlags);
  // --- personal store (101-109) ---
  LONG GetIECertCount();
  BSTR GetIECertSerial(LONG dwIndex);
  BSTR GetIECertCommonName(LONG dwIndex);
  BSTR GetIECertSubject(LONG dwIndex);
  BSTR GetIECertIssuer(LONG dwIndex);
  BSTR GetIECertNotBefore(LONG dwIndex);
  BSTR GetIECertNotAfter(LONG dwIndex);
  BSTR GetIECertFinger(LONG dwIndex);
  LONG DeleteIECert(LONG dwIndex);

  // --- entry and failure rules every operation follows ---
  // Clears the result code at the start of an operation; the platform number
  // of an earlier failure stays readable.
  void ResetError() { m_errorCode = ERR_SUCCESS; }
  // Clears both the result code and the platform number.
  void ResetErrors() {
    m_errorCode = ERR_SUCCESS;
    m_capiError = 0;
  }
  // In a browser protected-mode process the operations that touch the
  // system refuse: this sets 1500 and answers true, and the caller returns
  // its empty result at once.
  bool RefuseInProtectedMode();
  // Records a failure whose cause is the platform call just made: its last
  // error is taken before anything else can overwrite it.
  void FailWithLastError(ErrorCode code) {
    m_capiError = GetLastError();
    m_errorCode = code;
  }
  // Records a failure with the platform number an object kept from its own
  // failing call.
  void FailWithPlatformError(ErrorCode code, DWORD platformError) {
    m_capiError = platformError;
    m_errorCode = code;
  }
  void Fail(ErrorCode code) { m_errorCode = code; }

  // Members, in declaration order. Members of subsystems that are not built
  // yet arrive with them.
  ErrorCode m_errorCode;
  DWORD m_capiError;
  OSVERSIONINFOA m_osVersion;
  // Provider choice, key and request generation, pending requests.
  std::unique_ptr<CCertRequestManager> m_request;
  std::string m_homePath;
  LONG m_signerSource;
  std::string m_signerFingerprint;
  CByteBuffer m_signerCert;
  std::string m_signerPfxPassword;
  std::string m_signerPfxPath;
  std::string m_signerPfxName;
  LONG m_pwdMinLen;
  LONG m_pwdMaxLen;
  std::vector<std::vector<BYTE>> m_ieCerts;
  std::string m_importedPfxPath;
  std::string m_importedPfxName;
  std::string m_exportedPfxPath;
  std::string m_exportedPfxName;
  std::string m_defaultPfxPrefix;
  std::string m_csrForSign;
  std::string m_csrForEncrypt;
  cSharedMemory* m_signerCache;
  bool m_ieProtectedMode;
  CCertFinder* m_signerStore;
  HCRYPTPROV m_signerProv;
};

// The process's engine, shared by every door.
CCapiEngine& TheEngine();
