// FormatMessageA for messages of the system's table. The stand-in keeps the
// English texts (system_messages_data.h) and answers every language request
// that Windows would answer with them: the neutral, user-default and English
// languages.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "kernel/system_messages_data.h"

namespace {

const char* FindText(DWORD id) {
  const SystemMessage* begin = std::begin(kSystemMessages);
  const SystemMessage* end = std::end(kSystemMessages);
  const SystemMessage* it =
      std::lower_bound(begin, end, id, [](const SystemMessage& m, DWORD v) { return m.id < v; });
  if (it != end && it->id == id) return it->text;
  // An HRESULT made from a Win32 error reads as the Win32 error.
  if ((id & 0xFFFF0000u) == 0x80070000u && (id & 0xFFFFu) != 0) return FindText(id & 0xFFFFu);
  return nullptr;
}

bool LanguageKnown(DWORD language) {
  WORD primary = language & 0x3FF;
  return language == 0 || primary == LANG_NEUTRAL || primary == LANG_ENGLISH;
}

// True when the text has an insert (%1 ... %99) that needs arguments.
bool HasInserts(const std::string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9') return true;
  return false;
}

}  // namespace

extern "C" DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD dwLanguageId,
                                       LPSTR lpBuffer, DWORD nSize, va_list*) {
  constexpr DWORD kKnown = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                           FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE |
                           FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  // Only the system's table is kept here: no module carries a message table
  // of its own, so a module search falls through to the system as on
  // Windows, and strings as sources are not offered.
  if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & ~kKnown)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!lpBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) *reinterpret_cast<LPSTR*>(lpBuffer) = nullptr;
  if (!LanguageKnown(dwLanguageId)) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  const char* found = FindText(dwMessageId);
  if (!found) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  std::string text = std::string(found) + "\r\n";
  if (!(dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) && HasInserts(text)) {
    // The stand-in takes no arguments for inserts.
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK) {
    // No line breaks at all: each one becomes a space.
    std::string flat;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
        flat += ' ';
        ++i;
      } else {
        flat += text[i];
      }
    }
    text.swap(flat);
  }
  DWORD length = static_cast<DWORD>(text.size());
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    // lpBuffer really is an LPSTR* that receives a LocalAlloc'd block of at
    // least nSize characters.
    SIZE_T bytes = std::max<SIZE_T>(length + 1, nSize);
    auto* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, bytes));
    if (!block) return 0;
    std::memcpy(block, text.c_str(), length + 1);
    *reinterpret_cast<LPSTR*>(lpBuffer) = block;
    return length;
  }
  if (length + 1 > nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, text.c_str(), length + 1);
  return length;
}
