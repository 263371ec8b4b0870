// Loading a PFX file into a memory store and removing the imported key
// containers on close.
#include "cert/pfx_file.h"

#include "codec/byte_buffer.h"
#include "kvseam/owned_handles.h"
#include "vocabulary/text.h"

ErrorCode CPfxFile::Load(const std::string& path, const std::string& password, LONG flags) {
  m_lastError = 0;
  Close();
  if (path.empty()) return ERR_BAD_PARAM;

  std::u16string widePassword = kv::NarrowToWide(password);
  LPCWSTR pwd = reinterpret_cast<LPCWSTR>(widePassword.c_str());

  CByteBuffer image;
  if (!image.LoadFromFile(path)) {
    m_lastError = GetLastError();
    return ERR_PFX_FILE_READ;
  }
  CRYPT_DATA_BLOB blob;
  blob.cbData = static_cast<DWORD>(image.Size());
  blob.pbData = image.Data();
  if (!PFXIsPFXBlob(&blob)) {
    m_lastError = GetLastError();
    return ERR_PKCS12_FORMAT;
  }
  if (!PFXVerifyPassword(&blob, pwd, 0)) {
    m_lastError = GetLastError();
    if (!password.empty()) return ERR_PKCS12_PASSWORD;
    // The empty password and no password are different in PKCS#12; the
    // empty text was tried first.
    if (!PFXVerifyPassword(&blob, nullptr, 0)) {
      m_lastError = GetLastError();
      return ERR_PKCS12_PASSWORD;
    }
    pwd = nullptr;
  }
  m_store.reset(PFXImportCertStore(&blob, pwd, static_cast<DWORD>(flags & 3)));
  if (!m_store) {
    m_lastError = GetLastError();
    return ERR_PKCS12_PASSWORD;
  }
  return ERR_SUCCESS;
}

void CPfxFile::DeleteImportedKeys() {
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(m_store.get(), context)) != nullptr) {
    HCRYPTPROV prov = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(context, 0, nullptr, &prov, &keySpec, &callerFree)) {
      m_lastError = GetLastError();
      continue;
    }
    // Only a test that the key exists: the handle is released before the
    // key set is deleted.
    kv::OwnedProvider(callerFree ? prov : 0).reset();
    KeyProvInfoPtr info = GetKeyProvInfo(context);
    if (!info) continue;
    std::string container = kv::WideToNarrow(info->pwszContainerName);
    std::string provider = kv::WideToNarrow(info->pwszProvName);
    HCRYPTPROV deleted = 0;
    if (!CryptAcquireContextA(&deleted, container.c_str(), provider.empty() ? nullptr : provider.c_str(),
                              info->dwProvType, CRYPT_DELETEKEYSET))
      m_lastError = GetLastError();
  }
}

void CPfxFile::Close() {
  if (m_store) {
    if (m_deleteKeysOnClose) DeleteImportedKeys();
    m_store.reset();
  }
  m_lastError = 0;
}
