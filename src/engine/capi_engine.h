// CCapiEngine: the one object per process that carries out every operation.
// The doors (exports, scriptable object, command-line host) call it; it keeps
// the error state and everything that outlives one call.
//
// Each operation is implemented in the source file of its subsystem
// (engine/, and the `*_ops.cpp` sources of host/, cert/, sign/, keys/, crypt/). String arguments
// arrive as BSTRs owned by the operation, which frees them on every path;
// string results are new BSTRs owned by the caller.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/byte_buffer.h"
#include "vocabulary/error_codes.h"
#include "engine/operation_params.h"
#include "vocabulary/pfx_password_range.h"

class cSharedMemory;
class CCertFinder;
class CCertRequestManager;

// What GetPortEx answers, whatever the engine's state.
inline constexpr LONG kPortExValue = 65537;

class CCapiEngine {
 public:
  CCapiEngine();
  ~CCapiEngine();
  CCapiEngine(const CCapiEngine&) = delete;
  CCapiEngine& operator=(const CCapiEngine&) = delete;

  // The operations, declared from engine/operation_table.h; each is defined
  // in the folder of its area (see the header comment).
#define KV_OPERATION(slot, dispid, result, name, exportName, params, policy) \
  result name(KV_PARAM_LIST(KV_DECLARE_PARAM, params));
#include "engine/operation_table.h"

  // --- the error state: the only way in ---
  // Operations (and the helpers they hand the engine to) change the result
  // code and the platform number only through these verbs, so every rule
  // about them (what an entry clears, when the platform error is taken)
  // lives here. The four getter operations read the state and never change
  // it; code inside the component reads it with Code() / PlatformError().

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
  // Records a failure of the engine's own; the platform number stays.
  void Fail(ErrorCode code) { m_errorCode = code; }
  // Ends an operation whose steps return a code: records that code, success
  // or failure, and leaves the platform number as the steps left it.
  void Finish(ErrorCode code) { m_errorCode = code; }
  // Keeps the platform number a step reported, whatever its outcome, for
  // the code the operation ends with (some operations report the number of
  // the last platform call even when a later check fails).
  void NotePlatformError(DWORD platformError) { m_capiError = platformError; }

  // What the last operation left: the result code and the platform number.
  ErrorCode Code() const { return m_errorCode; }
  DWORD PlatformError() const { return m_capiError; }

  // Members, in declaration order. Members of subsystems that are not built
  // yet arrive with them.
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
  // Owned; the types stay incomplete here so this header knows no
  // subsystem's internals (the destructor is defined where they are complete).
  std::unique_ptr<cSharedMemory> m_signerCache;
  bool m_ieProtectedMode;
  std::unique_ptr<CCertFinder> m_signerStore;
  HCRYPTPROV m_signerProv;

 private:
  ErrorCode m_errorCode;
  DWORD m_capiError;
};

// The process's engine, shared by every door.
CCapiEngine& TheEngine();
