// Exported hashing operations.
#include "api/export_door.h"

KV_EXPORT(BSTR) Hash(LPCWSTR strPlainText, LONG dwFlags) { return TheEngine().Hash(kv::CopyArg(strPlainText), dwFlags); }

KV_EXPORT(BSTR) HashFile(LPCWSTR strFileName, LONG dwFlags) {
  return TheEngine().HashFile(kv::CopyArg(strFileName), dwFlags);
}
