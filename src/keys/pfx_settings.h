// What the engine keeps for its PFX operations between calls: the password
// length range the dialogs enforce, the default file-name prefix of an
// export, and where the last import and export went (the getters' answers).
#pragma once

#include <windows.h>

#include <string>

#include "vocabulary/pfx_password_range.h"

namespace kv::keys {

// A PFX file as a folder and a file name.
struct PfxLocation {
  std::string folder;
  std::string name;
};

class PfxSettings {
 public:
  LONG MinPasswordLength() const { return m_minPasswordLength; }
  LONG MaxPasswordLength() const { return m_maxPasswordLength; }
  void SetPasswordRange(LONG min, LONG max) {
    m_minPasswordLength = min;
    m_maxPasswordLength = max;
  }

  const std::string& DefaultPrefix() const { return m_defaultPrefix; }
  void SetDefaultPrefix(std::string prefix) { m_defaultPrefix = std::move(prefix); }

  // Empty until an import or export succeeds, emptied again as the next one
  // starts.
  const PfxLocation& Imported() const { return m_imported; }
  void SetImported(PfxLocation location) { m_imported = std::move(location); }
  const PfxLocation& Exported() const { return m_exported; }
  void SetExported(PfxLocation location) { m_exported = std::move(location); }

 private:
  LONG m_minPasswordLength = kDefaultPwdMinLen;
  LONG m_maxPasswordLength = kDefaultPwdMaxLen;
  std::string m_defaultPrefix;
  PfxLocation m_imported;
  PfxLocation m_exported;
};

}  // namespace kv::keys
