// Reuse of a PFX signer's imported store while its file and password stay
// the same.
#include "sign/signer_pfx.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "codec/byte_buffer.h"

namespace kv::sign {

namespace {

bool SameBytes(const CByteBuffer& a, const std::vector<BYTE>& b) {
  return static_cast<size_t>(a.Size()) == b.size() && std::memcmp(a.Data(), b.data(), b.size()) == 0;
}

std::atomic<bool> g_processExiting{false};

void MarkProcessExiting() { g_processExiting.store(true); }

}  // namespace

CSignerPfx::CSignerPfx() {
  // Registered after the engine that holds this object was constructed, so it
  // runs before the engine's destructor at exit.
  static const bool registered = std::atexit(MarkProcessExiting) == 0;
  (void)registered;
}

CSignerPfx::~CSignerPfx() {
  if (g_processExiting.load()) {
    Forget();
    (void)m_store.release();  // the process is ending; nothing is closed through the platform
    return;
  }
  Close();
}

void CSignerPfx::Forget() {
  // The password does not stay in memory longer than the store it opened.
  if (!m_password.empty()) std::memset(&m_password[0], 0, m_password.size());
  m_password.clear();
  m_path.clear();
  m_image.clear();
}

void CSignerPfx::Close() {
  Forget();
  CPfxFile::Close();
}

ErrorCode CSignerPfx::Reload(const std::string& path, const std::string& password) {
  CByteBuffer image;
  const bool read = !path.empty() && image.LoadFromFile(path) && image.Size() > 0;
  if (read && Store() != nullptr && path == m_path && password == m_password && SameBytes(image, m_image)) {
    m_lastError = 0;
    return ERR_SUCCESS;
  }
  // Anything else takes the full path, which also reports every failure.
  Forget();
  ErrorCode code = Load(path, password, 1);
  if (code != ERR_SUCCESS || !read) return code;
  m_path = path;
  m_password = password;
  m_image.assign(image.Data(), image.Data() + image.Size());
  return ERR_SUCCESS;
}

}  // namespace kv::sign
