// CPfxFileLock: one rewrite of a PFX file at a time among all the user's
// processes. A password change reads the file, checks the old password and
// writes the new image; two of them on one file must not interleave, or both
// report success while only the last write's password opens the file.
//
// The lock is a named mutex keyed by the file's final name (links followed),
// so every name of one file shares one lock and nothing is left beside the
// user's file; the system releases it when its holder dies.
#pragma once

#include <windows.h>

#include <string>

class CPfxFileLock {
 public:
  CPfxFileLock() = default;
  ~CPfxFileLock();
  CPfxFileLock(const CPfxFileLock&) = delete;
  CPfxFileLock& operator=(const CPfxFileLock&) = delete;

  // Waits at most `timeoutMs` for the lock of the file `finalName`. False
  // with LastError() when the lock cannot be made or the wait runs out
  // (ERROR_TIMEOUT).
  bool Acquire(const std::string& finalName, DWORD timeoutMs);
  DWORD LastError() const { return m_lastError; }

 private:
  HANDLE m_mutex = nullptr;
  bool m_held = false;
  DWORD m_lastError = 0;
};
