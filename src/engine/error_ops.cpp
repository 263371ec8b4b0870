// The getters of the error state and GetPortEx. Reading the error state never
// changes it, so a caller runs an operation and then asks for its code and
// both messages in any order.
#include <windows.h>

#include <cstdio>
#include <string>

#include "engine/capi_engine.h"
#include "engine/error_messages.h"
#include "vocabulary/text.h"

LONG CCapiEngine::GetErrorCode() { return m_errorCode; }

BSTR CCapiEngine::GetErrorMsg() { return kv::NarrowToBstr(FormatErrorMessage(m_errorCode)); }

LONG CCapiEngine::GetCapiErrorCode() { return static_cast<LONG>(m_capiError); }

BSTR CCapiEngine::GetCapiErrorMsg() {
  if (m_capiError == 0) return kv::NarrowToBstr(FormatErrorMessage(ERR_SUCCESS));

  // The system's text keeps its own line end, so the number follows on a new
  // line; a number the system does not know leaves only the number.
  std::string text;
  LPSTR systemText = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                    FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                nullptr, m_capiError, 0, reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
  if (length > 0 && systemText) text.assign(systemText, length);
  if (systemText) LocalFree(systemText);

  char number[16];
  std::snprintf(number, sizeof number, "(0x%08X)", static_cast<unsigned>(m_capiError));
  text += number;
  return kv::NarrowToBstr(text);
}

LONG CCapiEngine::GetPortEx() { return kPortExValue; }
