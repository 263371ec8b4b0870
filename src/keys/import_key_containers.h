// Key containers a PFX import would leave unused for good.
//
// A certificate of the file that is not imported (wrong key usage, refused by
// the store) still had its key put into a container by the load; when other
// certificates were imported the loader keeps every container, so these are
// removed one by one.
//
// When the import replaces a personal certificate (the stored copy of the
// same certificate, same SHA-1), the new copy names the container the import
// just made; the container the old copy named would then be used by nothing,
// for good. It is removed, but only when that is safe: the new copy's key
// really is the certificate's key, and no certificate of the store still
// names the old container.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

class CCertFinder;

namespace kv::keys {

// Removes the key container that `context`, a certificate of the loaded file
// `pfx`, names, unless a certificate of `personal` names it too (a file may
// give two certificates one key). False when it stays.
bool DeleteUnusedKeyContainer(CCertFinder& personal, CCertFinder& pfx, PCCERT_CONTEXT context);

}  // namespace kv::keys

class CReplacedKeyContainer {
 public:
  // Before the add: notes the container that the store's copy of
  // `incoming`, if there is one, names.
  void Note(CCertFinder& personal, PCCERT_CONTEXT incoming);
  // After a successful add of `incoming`: removes the noted container when
  // nothing needs it any more. Failures leave the container where it was.
  void RemoveIfUnused(CCertFinder& personal, PCCERT_CONTEXT incoming);

 private:
  std::string m_container;  // empty: nothing noted
  std::string m_provider;
  DWORD m_provType = 0;
  DWORD m_machine = 0;  // CRYPT_MACHINE_KEYSET or 0
};
