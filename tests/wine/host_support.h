// What the Wine test programs share: the check report (one "ok"/"not ok"
// line a check), the loaded library with its exports found by their
// decorated names, and text and file helpers.
#pragma once

#include <windows.h>

#include <string>

namespace wine_test {

std::string Utf8(const std::wstring& text);
std::wstring Hex(const BYTE* data, size_t n);
// Writes bytes to <output folder>\name; the folder is the program's first
// argument.
bool WriteOutput(const std::wstring& name, const std::string& bytes);
std::wstring OutputPath(const std::wstring& name);
void SetOutputFolder(const std::wstring& folder);

class Report {
 public:
  // Records one check; `detail` says what was seen when it failed.
  bool Check(bool ok, const std::string& name, const std::wstring& detail = L"");
  bool Equal(const std::wstring& got, const std::wstring& want, const std::string& name);
  bool Equal(long got, long want, const std::string& name);
  int Failed() const { return failed_; }
  int Passed() const { return passed_; }

 private:
  int failed_ = 0, passed_ = 0;
};

// korvessa.dll, called as a desktop program would: LoadLibrary, then
// GetProcAddress with "_Name@N", N = 4 x the number of arguments.
class Library {
 public:
  bool Load(const std::wstring& path);
  HMODULE Module() const { return module_; }
  FARPROC Find(const char* name, size_t args);

  template <typename... A>
  std::wstring Text(const char* name, A... args) {
    using Fn = BSTR(__stdcall*)(A...);
    Fn fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(Find(name, sizeof...(A))));
    if (!fn) return L"<missing export>";
    BSTR result = fn(args...);
    std::wstring text = result ? std::wstring(result, SysStringLen(result)) : L"<null>";
    SysFreeString(result);
    return text;
  }

  template <typename... A>
  LONG Number(const char* name, A... args) {
    using Fn = LONG(__stdcall*)(A...);
    Fn fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(Find(name, sizeof...(A))));
    return fn ? fn(args...) : -1;
  }

  LONG Error() { return Number("GetErrorCode"); }
  LONG CapiError() { return Number("GetCapiErrorCode"); }
  std::wstring Message() { return Text("GetErrorMsg"); }
  // Exports asked for and not found.
  int Missing() const { return missing_; }

 private:
  HMODULE module_ = nullptr;
  int missing_ = 0;
};

}  // namespace wine_test
