// Distinguished names of the certificate calls: parsing a Name, rendering it
// as Windows does, and returning text under the size-query rules.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace kv::platform::cert {

struct NameAttribute {
  std::string oid;
  uint8_t tag = 0;
  std::vector<uint8_t> value;    // contents of the value element
  std::vector<uint8_t> encoded;  // the whole value element
};
using Rdn = std::vector<NameAttribute>;

// Parses a DER Name; false with the decoder's error when malformed.
bool ParseName(const BYTE* data, DWORD size, std::vector<Rdn>* out, HRESULT* error);
// The text of one attribute value (no quoting).
std::u16string ValueText(const NameAttribute& attribute);
// The whole name under a CERT_*_NAME_STR type and its flags.
std::u16string RenderName(const std::vector<Rdn>& rdns, DWORD strType);

// Copies text under Windows's rules for these calls: null buffer or zero
// size gives the size needed; a short buffer gets what fits; the result
// counts the terminating zero and is at least 1.
DWORD ReturnWide(const std::u16string& text, LPWSTR out, DWORD size);
DWORD ReturnNarrow(const std::u16string& text, LPSTR out, DWORD size);
// The text in the ANSI code page.
std::string ToAnsi(const std::u16string& text);

}  // namespace kv::platform::cert
