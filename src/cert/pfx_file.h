// CPfxFile: a PFX (PKCS#12) file and its password imported into a temporary
// memory store whose certificates carry their private keys; the key
// containers the import created are deleted when the store is closed, unless
// the caller has made them permanent.
#pragma once

#include "cert/cert_finder.h"

class CPfxFile : public CCertFinder {
 public:
  CPfxFile() = default;
  ~CPfxFile() override { Close(); }

  // `flags & 3` passes CRYPT_EXPORTABLE / CRYPT_USER_PROTECTED to the import.
  ErrorCode Load(const std::string& path, const std::string& password, LONG flags);
  void Close() override;
  // The first match only.
  ErrorCode Find(const CertSearchRequest& request) { return Search(request, SearchMode::FirstOnly); }

  bool m_deleteKeysOnClose = true;

 private:
  void DeleteImportedKeys();
};
