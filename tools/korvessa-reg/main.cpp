// korvessa-reg: reads and changes the registry of the Linux stand-in.
// HKEY_LOCAL_MACHINE can be changed only through this tool (by a user who
// may write the machine database's folder); programs that use the component
// only read it. Arguments and output are UTF-8; the registry calls receive
// the ANSI code page as they would on Windows.
//
//   korvessa-reg get     ROOT\Key [Value]
//   korvessa-reg set     ROOT\Key Value TYPE DATA
//   korvessa-reg delete  ROOT\Key Value
//   korvessa-reg delete-key ROOT\Key
//   korvessa-reg list    ROOT\Key
//
// ROOT is HKLM, HKCU, HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER; "@" names a
// key's default value. TYPE is REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ (items
// separated by "\n"), REG_DWORD, REG_QWORD (decimal or 0x hex), REG_BINARY
// (hex digits) or a number for any other type.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "registry/registry_admin.h"

namespace {

std::string Convert(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::vector<WCHAR> wide(static_cast<size_t>(n > 0 ? n : 0));
  if (n <= 0) return {};
  MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  int m = WideCharToMultiByte(to, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  if (m <= 0) return {};
  std::string out(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(to, 0, wide.data(), n, &out[0], m, nullptr, nullptr);
  return out;
}

std::string ToAnsi(const std::string& utf8) { return Convert(utf8, CP_UTF8, CP_ACP); }
std::string ToUtf8(const std::string& ansi) { return Convert(ansi, CP_ACP, CP_UTF8); }

int Fail(const char* what, LONG code) {
  std::fprintf(stderr, "korvessa-reg: %s failed with error %ld\n", what, static_cast<long>(code));
  return 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: korvessa-reg get ROOT\\Key [Value]\n"
               "       korvessa-reg set ROOT\\Key Value TYPE DATA\n"
               "       korvessa-reg delete ROOT\\Key Value\n"
               "       korvessa-reg delete-key ROOT\\Key\n"
               "       korvessa-reg list ROOT\\Key\n");
  return 2;
}

bool SplitRoot(const std::string& path, HKEY* root, std::string* rest) {
  size_t slash = path.find('\\');
  std::string head = path.substr(0, slash);
  *rest = slash == std::string::npos ? "" : path.substr(slash + 1);
  for (auto& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (head == "HKLM" || head == "HKEY_LOCAL_MACHINE") {
    *root = HKEY_LOCAL_MACHINE;
    return true;
  }
  if (head == "HKCU" || head == "HKEY_CURRENT_USER") {
    *root = HKEY_CURRENT_USER;
    return true;
  }
  return false;
}

std::string ValueName(const std::string& arg) { return arg == "@" ? std::string() : ToAnsi(arg); }

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_DWORD: return "REG_DWORD";
    case REG_QWORD: return "REG_QWORD";
    case REG_BINARY: return "REG_BINARY";
    case REG_NONE: return "REG_NONE";
    default: return nullptr;
  }
}

std::string Render(DWORD type, const std::vector<BYTE>& data) {
  char buf[32];
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::string s(data.begin(), data.end());
    return ToUtf8(s.substr(0, s.find('\0')));
  }
  if (type == REG_MULTI_SZ) {
    std::string all(data.begin(), data.end()), out;
    size_t pos = 0;
    while (pos < all.size() && all[pos]) {
      size_t end = all.find('\0', pos);
      if (end == std::string::npos) end = all.size();
      if (!out.empty()) out += "\\n";
      out += ToUtf8(all.substr(pos, end - pos));
      pos = end + 1;
    }
    return out;
  }
  if (type == REG_DWORD && data.size() == 4) {
    DWORD v;
    std::memcpy(&v, data.data(), 4);
    std::snprintf(buf, sizeof buf, "%lu", static_cast<unsigned long>(v));
    return buf;
  }
  if (type == REG_QWORD && data.size() == 8) {
    unsigned long long v;
    std::memcpy(&v, data.data(), 8);
    std::snprintf(buf, sizeof buf, "%llu", v);
    return buf;
  }
  std::string hex;
  for (BYTE b : data) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    hex += buf;
  }
  return hex;
}

bool Encode(const std::string& typeArg, const std::string& text, DWORD* type, std::vector<BYTE>* data) {
  auto number = [&](unsigned long long* out) {
    char* end = nullptr;
    *out = std::strtoull(text.c_str(), &end, 0);
    return !text.empty() && end && *end == '\0';
  };
  if (typeArg == "REG_SZ" || typeArg == "REG_EXPAND_SZ") {
    *type = typeArg == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
    std::string ansi = ToAnsi(text);
    data->assign(ansi.begin(), ansi.end());
    data->push_back(0);
    return true;
  }
  if (typeArg == "REG_MULTI_SZ") {
    *type = REG_MULTI_SZ;
    size_t pos = 0;
    while (pos <= text.size() && !text.empty()) {
      size_t end = text.find("\\n", pos);
      if (end == std::string::npos) end = text.size();
      std::string item = ToAnsi(text.substr(pos, end - pos));
      data->insert(data->end(), item.begin(), item.end());
      data->push_back(0);
      pos = end + 2;
    }
    data->push_back(0);
    return true;
  }
  unsigned long long v = 0;
  if (typeArg == "REG_DWORD" || typeArg == "REG_QWORD") {
    if (!number(&v)) return false;
    *type = typeArg == "REG_DWORD" ? REG_DWORD : REG_QWORD;
    size_t width = *type == REG_DWORD ? 4 : 8;
    for (size_t i = 0; i < width; ++i) data->push_back(static_cast<BYTE>(v >> (8 * i)));
    return true;
  }
  if (typeArg == "REG_BINARY" || typeArg == "REG_NONE" || std::isdigit(static_cast<unsigned char>(typeArg[0]))) {
    if (typeArg == "REG_BINARY")
      *type = REG_BINARY;
    else if (typeArg == "REG_NONE")
      *type = REG_NONE;
    else
      *type = static_cast<DWORD>(std::strtoul(typeArg.c_str(), nullptr, 0));
    if (text.size() % 2) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
      char* end = nullptr;
      std::string pair = text.substr(i, 2);
      long b = std::strtol(pair.c_str(), &end, 16);
      if (!end || *end) return false;
      data->push_back(static_cast<BYTE>(b));
    }
    return true;
  }
  return false;
}

int PrintValue(HKEY key, const std::string& name, const std::string& shownName) {
  DWORD type = 0, size = 0;
  LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS) return Fail("RegQueryValueExA", rc);
  std::vector<BYTE> data(size + 1);
  rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size);
  if (rc != ERROR_SUCCESS) return Fail("RegQueryValueExA", rc);
  data.resize(size);
  const char* typeName = TypeName(type);
  std::printf("%s\t%s%s\t%s\n", shownName.c_str(), typeName ? typeName : "", typeName ? "" : std::to_string(type).c_str(),
              Render(type, data).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string command = argv[1];
  HKEY root = nullptr;
  std::string keyPath;
  if (!SplitRoot(argv[2], &root, &keyPath)) return Usage();
  keyPath = ToAnsi(keyPath);
  // Only changes open the machine database for writing: any user may read
  // it (the browsers' host does, to learn the allowed sites), while writing
  // it is root's, as its folder is.
  if (root == HKEY_LOCAL_MACHINE && (command == "set" || command == "delete" || command == "delete-key"))
    kv::platform::SetMachineRegistryAdministration(true);

  if (command == "set" && argc == 6) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!Encode(argv[4], argv[5], &type, &data)) return Usage();
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return Fail("RegCreateKeyExA", rc);
    rc = RegSetValueExA(key, ValueName(argv[3]).c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : Fail("RegSetValueExA", rc);
  }
  if (command == "delete-key" && argc == 3) {
    LONG rc = RegDeleteKeyA(root, keyPath.c_str());
    return rc == ERROR_SUCCESS ? 0 : Fail("RegDeleteKeyA", rc);
  }

  HKEY key = nullptr;
  REGSAM access = command == "delete" ? KEY_ALL_ACCESS : KEY_READ;
  LONG rc = RegOpenKeyExA(root, keyPath.c_str(), 0, access, &key);
  if (rc != ERROR_SUCCESS) return Fail("RegOpenKeyExA", rc);
  int status = 0;
  if (command == "get" && (argc == 3 || argc == 4)) {
    std::string name = argc == 4 ? ValueName(argv[3]) : std::string();
    status = PrintValue(key, name, argc == 4 ? argv[3] : "@");
  } else if (command == "delete" && argc == 4) {
    rc = RegDeleteValueA(key, ValueName(argv[3]).c_str());
    status = rc == ERROR_SUCCESS ? 0 : Fail("RegDeleteValueA", rc);
  } else if (command == "list" && argc == 3) {
    char name[1024];
    for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i)
      std::printf("%s\\\n", ToUtf8(name).c_str());
    for (DWORD i = 0;; ++i) {
      DWORD chars = sizeof name;
      if (RegEnumValueA(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      std::string shown = chars ? ToUtf8(std::string(name, chars)) : "@";
      if (PrintValue(key, std::string(name, chars), shown) != 0) status = 1;
    }
  } else {
    status = Usage();
  }
  RegCloseKey(key);
  return status;
}
