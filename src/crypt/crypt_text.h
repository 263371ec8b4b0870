// How the encryption operations turn the caller's text into the bytes they
// encrypt and decrypted bytes back into text: the code-page flag picks the
// ANSI code page, otherwise the text travels as UTF-16LE code units.
#pragma once

#include <windows.h>

#include <vector>

namespace kv::crypt {

// dwFlags bit: the text is handled in the system's ANSI code page.
inline constexpr LONG kTextInAnsiCodePage = 0x800;

// Bytes that are zeroed when they go (plain texts and keys).
class SecretBytes : public std::vector<BYTE> {
 public:
  using std::vector<BYTE>::vector;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  ~SecretBytes() { Wipe(); }
  // Zeroes the bytes and gives their memory back now.
  void Wipe() {
    if (!empty()) SecureZeroMemory(data(), size());
    std::vector<BYTE>().swap(*this);
  }
};

// The caller's text up to its first zero: its ANSI bytes with the flag,
// otherwise its UTF-16LE code units, without terminator. False (and no bytes)
// for an absent or empty text. Does not free `text`.
bool TextToBytes(BSTR text, LONG flags, SecretBytes* out);

// Whether decrypted bytes can be a text of the form the flags name. Every
// UTF-16 text is a whole number of code units, so an odd count can only come
// from a wrong key, damaged data or the other form: reporting it as a
// decryption failure turns away most wrong keys that the padding check lets
// through (the last byte decrypting to 01) instead of returning garbage.
bool PlainTextFits(size_t size, LONG flags);

// Decrypted bytes as the result string, read up to the first zero: as ANSI
// text with the flag, otherwise as UTF-16LE code units (an odd last byte is
// completed by a zero high byte). UTF-16 text is handed back as it is, so no
// character is lost to the code page.
BSTR BytesToText(const BYTE* data, size_t size, LONG flags);

}  // namespace kv::crypt
