// Helpers of the encryption tests: calling an operation and reading its
// result code and platform error together, and OpenSSL's command line as the
// independent implementation the results are checked against.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "engine/capi_engine.h"

namespace kv::test {

// What an operation returned (as UTF-16) and the error state it left.
struct OpResult {
  std::u16string text;
  LONG code = 0;
  DWORD capiError = 0;
};

// Takes a returned BSTR as UTF-16 and frees it, with the engine's state.
OpResult Outcome(CCapiEngine& engine, BSTR result);
// A BSTR of UTF-16 text.
BSTR WideBstr(const std::u16string& text);
// UTF-16 text from UTF-8.
std::u16string Utf16(const std::string& utf8);
// The UTF-16 code units of a text as little-endian bytes.
std::string Utf16LeBytes(const std::u16string& text);
// The text's bytes in the ANSI code page.
std::string AnsiBytes(const std::u16string& text);
std::string Base64(const std::string& bytes);
std::string Unbase64(const std::u16string& text);

// Runs one shell command over many inputs: every `{in}` and `{out}` in
// `command` is replaced by an input file and an output file; returns the
// outputs in order ("<failed>" where the command failed). One shell for the
// whole batch.
std::vector<std::string> RunOverFiles(const std::string& folder, const std::string& command,
                                      const std::vector<std::string>& inputs);

// Option that makes the legacy algorithms (DES, RC4, RC2) available to `openssl`.
inline const char kOpenSslLegacy[] = " -provider legacy -provider default";

}  // namespace kv::test
