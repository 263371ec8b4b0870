// The small PFX operations: the password length range the dialogs enforce,
// the default name of exported files, and where the last import and export
// went.
#include <utility>

#include "engine/capi_engine.h"
#include "engine/text.h"

LONG CCapiEngine::PresetPasswdLengthRange(LONG min, LONG max) {
  if (min > max) std::swap(min, max);
  if (min < 1) min = kDefaultPwdMinLen;
  if (max < 1) max = kDefaultPwdMaxLen;
  ResetErrors();
  m_pwdMinLen = min;
  m_pwdMaxLen = max;
  return ERR_SUCCESS;
}

LONG CCapiEngine::SetDefaultPfxFileName(BSTR strPrefix) {
  ResetError();
  m_defaultPfxPrefix = kv::TakeNarrow(strPrefix);
  return ERR_SUCCESS;
}

BSTR CCapiEngine::GetImportedPfxFilePath() { return kv::NarrowToBstr(m_importedPfxPath); }
BSTR CCapiEngine::GetImportedPfxFileName() { return kv::NarrowToBstr(m_importedPfxName); }
BSTR CCapiEngine::GetExportedPfxFilePath() { return kv::NarrowToBstr(m_exportedPfxPath); }
BSTR CCapiEngine::GetExportedPfxFileName() { return kv::NarrowToBstr(m_exportedPfxName); }
