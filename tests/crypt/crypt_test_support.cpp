// Helpers of the encryption tests.
#include "crypt/crypt_test_support.h"

#include <oleauto.h>

#include <openssl/evp.h>

#include "vocabulary/text.h"
#include "sign/sign_test_support.h"
#include "support/temp_home.h"

namespace kv::test {

OpResult Outcome(CCapiEngine& engine, BSTR result) {
  OpResult r;
  if (result) r.text.assign(reinterpret_cast<const char16_t*>(result), SysStringLen(result));
  r.code = engine.GetErrorCode();
  r.capiError = static_cast<DWORD>(engine.GetCapiErrorCode());
  SysFreeString(result);
  return r;
}

BSTR WideBstr(const std::u16string& text) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
}

std::u16string Utf16(const std::string& utf8) {
  BSTR b = Utf8Bstr(utf8);
  std::u16string out(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
  SysFreeString(b);
  return out;
}

std::string Utf16LeBytes(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

std::string AnsiBytes(const std::u16string& text) {
  return kv::WideToNarrow(reinterpret_cast<LPCWSTR>(text.c_str()), static_cast<int>(text.size()));
}

std::string Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Unbase64(const std::u16string& text) {
  std::string narrow(text.begin(), text.end());
  std::vector<uint8_t> bytes = FromBase64(narrow);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> RunOverFiles(const std::string& folder, const std::string& command,
                                      const std::vector<std::string>& inputs) {
  std::string script = "cd '" + folder + "' || exit 1\n";
  for (size_t i = 0; i < inputs.size(); ++i) {
    const std::string in = "in" + std::to_string(i), out = "out" + std::to_string(i);
    WriteFile(folder + "/" + in, inputs[i]);
    std::string line = command;
    for (size_t at; (at = line.find("{in}")) != std::string::npos;) line.replace(at, 4, in);
    for (size_t at; (at = line.find("{out}")) != std::string::npos;) line.replace(at, 5, out);
    script += line + " 2>/dev/null || rm -f " + out + "\n";
  }
  WriteFile(folder + "/run.sh", script);
  RunCommand("sh '" + folder + "/run.sh'");
  std::vector<std::string> outputs;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const std::string path = folder + "/out" + std::to_string(i);
    FILE* f = fopen(path.c_str(), "rb");
    outputs.push_back(f ? ReadFile(path) : "<failed>");
    if (f) fclose(f);
  }
  return outputs;
}

}  // namespace kv::test
