// Check report, export lookup and output files of the Wine test programs.
#include "host_support.h"

#include <cstdio>

namespace wine_test {
namespace {

std::wstring g_output = L".";

}  // namespace

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring Hex(const BYTE* data, size_t n) {
  static const wchar_t digits[] = L"0123456789ABCDEF";
  std::wstring out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

void SetOutputFolder(const std::wstring& folder) { g_output = folder; }

std::wstring OutputPath(const std::wstring& name) { return g_output + L"\\" + name; }

bool WriteOutput(const std::wstring& name, const std::string& bytes) {
  FILE* f = _wfopen(OutputPath(name).c_str(), L"wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool Report::Check(bool ok, const std::string& name, const std::wstring& detail) {
  if (ok) {
    ++passed_;
    std::printf("ok - %s\n", name.c_str());
  } else {
    ++failed_;
    std::printf("not ok - %s: %s\n", name.c_str(), Utf8(detail).c_str());
  }
  std::fflush(stdout);
  return ok;
}

bool Report::Equal(const std::wstring& got, const std::wstring& want, const std::string& name) {
  return Check(got == want, name, L"got \"" + got + L"\", want \"" + want + L"\"");
}

bool Report::Equal(long got, long want, const std::string& name) {
  return Check(got == want, name, L"got " + std::to_wstring(got) + L", want " + std::to_wstring(want));
}

bool Library::Load(const std::wstring& path) {
  module_ = LoadLibraryW(path.c_str());
  return module_ != nullptr;
}

FARPROC Library::Find(const char* name, size_t args) {
  std::string decorated = "_" + std::string(name) + "@" + std::to_string(args * 4);
  FARPROC fn = module_ ? GetProcAddress(module_, decorated.c_str()) : nullptr;
  if (!fn) {
    ++missing_;
    std::printf("not ok - export %s not found\n", decorated.c_str());
  }
  return fn;
}

}  // namespace wine_test
