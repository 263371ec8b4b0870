// The small PFX operations: the password length range the dialogs enforce,
// the default name of exported files, and where the last import and export
// went.
#include <utility>

#include "engine/capi_engine.h"
#include "keys/pfx_settings.h"
#include "vocabulary/text.h"

namespace {

// The export joins the prefix to the folder the user chose, so a prefix is a
// file name and nothing more: folders, "..", a drive ("C:") or a stream
// (":name") before it would take the file elsewhere. Only the part after the
// last separator is kept; callers are still answered 0, as they always were.
// The backslash is found the Big5-safe way, since it is also a trail byte;
// '/' and ':' never are.
std::string FileNamePart(const std::string& text) {
  size_t cut = kv::FindLastBackslash(text);
  for (char separator : {'/', ':'}) {
    size_t at = text.rfind(separator);
    if (at != std::string::npos && (cut == std::string::npos || at > cut)) cut = at;
  }
  return cut == std::string::npos ? text : text.substr(cut + 1);
}

}  // namespace

LONG CCapiEngine::PresetPasswdLengthRange(LONG min, LONG max) {
  if (min > max) std::swap(min, max);
  if (min < 1) min = kDefaultPwdMinLen;
  if (max < 1) max = kDefaultPwdMaxLen;
  ResetErrors();
  Pfx().SetPasswordRange(min, max);
  return ERR_SUCCESS;
}

LONG CCapiEngine::SetDefaultPfxFileName(BSTR strPrefix) {
  ResetError();
  Pfx().SetDefaultPrefix(FileNamePart(kv::TakeNarrow(strPrefix)));
  return ERR_SUCCESS;
}

BSTR CCapiEngine::GetImportedPfxFilePath() { return kv::NarrowToBstr(Pfx().Imported().folder); }
BSTR CCapiEngine::GetImportedPfxFileName() { return kv::NarrowToBstr(Pfx().Imported().name); }
BSTR CCapiEngine::GetExportedPfxFilePath() { return kv::NarrowToBstr(Pfx().Exported().folder); }
BSTR CCapiEngine::GetExportedPfxFileName() { return kv::NarrowToBstr(Pfx().Exported().name); }
