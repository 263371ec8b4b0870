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

#include "vocabulary/error_codes.h"
#include "engine/operation_params.h"

class CCertRequestManager;
namespace kv::cert {
class StoreSnapshot;
}
namespace kv::keys {
class PfxSettings;
}
namespace kv::sign {
class SignerState;
}

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

  // --- what outlives a call, by area ---
  // Each area's state is an object of that area, reached through its own
  // methods; the types stay incomplete here so this header knows no area's
  // internals (the destructor is defined where they are complete).

  // The chosen signer, its store and key, the shared signer area (sign/).
  kv::sign::SignerState& Signer() { return *m_signer; }
  const kv::sign::SignerState& Signer() const { return *m_signer; }
  // Password range, default prefix, last imported and exported files (keys/).
  kv::keys::PfxSettings& Pfx() { return *m_pfx; }
  const kv::keys::PfxSettings& Pfx() const { return *m_pfx; }
  // The personal store as GetIECertCount listed it (cert/).
  kv::cert::StoreSnapshot& Snapshot() { return *m_snapshot; }
  const kv::cert::StoreSnapshot& Snapshot() const { return *m_snapshot; }
  // Provider choice, key and request generation, pending requests (keys/).
  CCertRequestManager& Requests() { return *m_request; }

  // --- facts gathered at construction ---
  const std::string& HomePath() const { return m_homePath; }
  bool InProtectedMode() const { return m_ieProtectedMode; }
  // The probe runs once, at construction; a test that wants the other mode
  // for one engine says so here.
  void OverrideProtectedMode(bool on) { m_ieProtectedMode = on; }

 private:
  OSVERSIONINFOA m_osVersion;
  std::unique_ptr<CCertRequestManager> m_request;
  std::string m_homePath;
  std::unique_ptr<kv::keys::PfxSettings> m_pfx;
  std::unique_ptr<kv::cert::StoreSnapshot> m_snapshot;
  std::unique_ptr<kv::sign::SignerState> m_signer;
  bool m_ieProtectedMode;
  ErrorCode m_errorCode;
  DWORD m_capiError;
};

// The process's engine, shared by every door.
CCapiEngine& TheEngine();
