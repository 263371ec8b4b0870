// Checks of the operations that need no certificate: version, hashing,
// result codes and their messages (code page 950 texts read back as
// UTF-16), registry values and host facts.
#include "checks.h"

#include <vector>

namespace wine_test {
namespace {

// The version resource of the loaded module, read by the system.
std::wstring ResourceVersion(HMODULE module) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(module, path, MAX_PATH);
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &handle);
  std::vector<BYTE> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!size || !GetFileVersionInfoW(path, 0, size, block.data()) ||
      !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length))
    return L"<no version resource>";
  return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
         L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

void CheckVersion(Library& k, Report& r) {
  r.Equal(k.Text("GetDllVersion"), ResourceVersion(k.Module()), "GetDllVersion matches the version resource");
  r.Equal(k.Number("GetPortEx"), 65537, "GetPortEx");
}

void CheckHash(Library& k, Report& r) {
  // Digests of the ANSI bytes "abc" (flag 0x10).
  r.Equal(k.Text("Hash", L"abc", 0x11L), L"900150983CD24FB0D6963F7D28E17F72", "Hash MD5 ansi");
  r.Equal(k.Text("Hash", L"abc", 0x10L), L"A9993E364706816ABA3E25717850C26C9CD0D89D", "Hash SHA-1 ansi");
  r.Equal(k.Text("Hash", L"abc", 0x13L), L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
          "Hash SHA-256 ansi");
  r.Equal(k.Error(), 0, "Hash leaves 0");
  // The Chinese text in both forms goes to OpenSSL on the Linux side.
  const wchar_t* text = L"交易內容：買進 2330 一張";
  std::string lines;
  for (LONG flags : {0x00L, 0x01L, 0x03L, 0x04L, 0x10L, 0x11L, 0x13L, 0x14L})
    lines += std::to_string(flags) + " " + Utf8(k.Text("Hash", text, flags)) + "\n";
  r.Check(WriteOutput(L"hash-results.txt", lines), "hash results written");

  SetLastError(0xdeadbeef);
  r.Equal(k.Text("Hash", L"", 0L), L"", "Hash of empty text is empty");
  r.Equal(k.Error(), 5005, "Hash of empty text: 5005");
  r.Equal(k.Message(), L"錯誤的參數(5005)", "message of 5005 in UTF-16");
  r.Equal(k.Text("Hash", static_cast<LPCWSTR>(nullptr), 0L), L"", "Hash of null is empty");
  r.Equal(k.Error(), 5005, "Hash of null: 5005");

  std::wstring file = OutputPath(L"hash-input.bin");
  WriteOutput(L"hash-input.bin", std::string("\x00\x01\xff" "abc", 6));
  r.Equal(k.Text("HashFile", file.c_str(), 0x3L), L"2F96C00694BDDBB67AB127C5891730E01048F87D83BCF824C3329DB6B1C38209",
          "HashFile SHA-256 of the file's bytes");
  r.Equal(k.Error(), 0, "HashFile leaves 0");
  std::wstring missing = OutputPath(L"no-such-file.bin");
  r.Equal(k.Text("HashFile", missing.c_str(), 0L), L"", "HashFile of a missing file");
  r.Equal(k.Error(), 5902, "HashFile of a missing file: 5902");
  r.Equal(k.Message(), L"File Not Found(5902)", "message of 5902");
}

void CheckRegistry(Library& k, Report& r) {
  const wchar_t* name = L"Software\\KorvessaWine\\設定\\使用者";
  r.Equal(k.Number("RegWriteHKCUStr", name, L"王小明 交易"), 0, "RegWriteHKCUStr");
  r.Equal(k.Text("RegReadHKCU", name), L"王小明 交易", "RegReadHKCU gives back the text");
  // What the system holds, read independently through the wide call.
  HKEY key;
  wchar_t value[64] = {0};
  DWORD size = sizeof value, type = 0;
  bool opened = RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\KorvessaWine\\設定", 0, KEY_READ, &key) == ERROR_SUCCESS;
  if (opened) {
    RegQueryValueExW(key, L"使用者", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
  }
  r.Check(opened && type == REG_SZ, "registry key and value created under HKCU");
  r.Equal(value, L"王小明 交易", "registry value as the system stores it");

  r.Equal(k.Number("RegWriteHKCUInt", L"Software\\KorvessaWine\\Count", -5L), 0, "RegWriteHKCUInt");
  r.Equal(k.Text("RegReadHKCU", L"Software\\KorvessaWine\\Count"), L"-5", "REG_DWORD read as signed decimal");
  r.Equal(k.Text("RegReadHKCU", L"Software\\KorvessaWine\\Missing"), L"", "missing value is empty");
  r.Equal(k.Error(), 0, "missing value leaves 0");
  r.Equal(k.Text("RegReadHKCU", L"Software\\NoSuchKorvessaKey\\Value"), L"", "missing key is empty");
  r.Equal(k.Error(), 5906, "missing key: 5906");
  r.Equal(k.Message(), L"使用者權限不足(5906)", "message of 5906");
  r.Equal(k.Number("RegWriteHKCUStr", L"NoBackslash", L"x"), 5005, "name without a backslash: 5005");
  r.Equal(k.Text("RegReadHKCU", static_cast<LPCWSTR>(nullptr)), L"", "null name is empty");
  r.Equal(k.Error(), 5005, "null name: 5005");
  r.Check(!k.Text("RegReadHKLM", L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProductName").empty(),
          "RegReadHKLM reads the product name");
}

void CheckHostFacts(Library& k, Report& r) {
  std::wstring os = k.Text("GetOSName");
  r.Check(!os.empty() && k.Error() == 0, "GetOSName", os);
  wchar_t profile[MAX_PATH] = {0};
  GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
  r.Equal(k.Text("GetUserHomePath"), profile, "GetUserHomePath is USERPROFILE");
  std::wstring mac = k.Text("GetMacAddress");
  LONG code = k.Error();
  // Wine reports the machine's adapters; a machine without one gives 5001.
  r.Check(code == 0 || code == 5001, "GetMacAddress", mac + L" / " + std::to_wstring(code));
  WriteOutput(L"host-facts.txt", "os " + Utf8(os) + "\nmac " + Utf8(mac) + "\n");
}

}  // namespace

void CheckEngine(Library& k, Report& r) {
  CheckVersion(k, r);
  CheckHash(k, r);
  CheckRegistry(k, r);
  CheckHostFacts(k, r);
}

}  // namespace wine_test
