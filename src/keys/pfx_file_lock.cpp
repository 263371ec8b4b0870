// The cross-process lock of one PFX file's rewrites.
#include "keys/pfx_file_lock.h"

#include "codec/digests.h"

namespace {

// Windows names are case-blind, so the lock is too; the digest keeps the
// mutex name short and free of the separators a name may not hold.
std::string MutexName(const std::string& finalName) {
  std::string folded = finalName;
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  CSha1Digest digest;
  CByteBuffer hex;
  if (!digest.Compute(folded.data(), static_cast<int32_t>(folded.size())) ||
      !hex.EncodeHex(digest.Data(), digest.Size()))
    return std::string();
  return std::string("Local\\Korvessa.PfxFile.") + hex.c_str();
}

}  // namespace

CPfxFileLock::~CPfxFileLock() {
  if (m_held) ReleaseMutex(m_mutex);
  if (m_mutex) CloseHandle(m_mutex);
}

bool CPfxFileLock::Acquire(const std::string& finalName, DWORD timeoutMs) {
  std::string name = MutexName(finalName);
  if (name.empty()) {
    m_lastError = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  m_mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (!m_mutex) {
    m_lastError = GetLastError();
    return false;
  }
  // An abandoned lock is ours: its holder died, and since every rewrite
  // renames a complete file into place, the file is whole.
  DWORD waited = WaitForSingleObject(m_mutex, timeoutMs);
  m_held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  if (!m_held) m_lastError = waited == WAIT_TIMEOUT ? static_cast<DWORD>(ERROR_TIMEOUT) : GetLastError();
  return m_held;
}
