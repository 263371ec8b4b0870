// Modules and version records: loading the library, looking up exports, the
// module's file name, the embedded version record, and the stand-in for the
// browser's protected-mode probe.
#include <windows.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/version_record.h"
#include "support/temp_home.h"

namespace {

constexpr DWORD kUntouched = 0xdeadbeef;

typedef HRESULT(WINAPI* ProtectedModeQuery)(BOOL*);

std::string Executable() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string ModuleFile(HMODULE module) {
  char path[PATH_MAX] = {};
  DWORD n = GetModuleFileNameA(module, path, sizeof path);
  return std::string(path, n);
}

TEST(Modules, FileNameOfTheProgramAndShortBuffers) {
  std::string exe = Executable();
  ASSERT_FALSE(exe.empty());
  SetLastError(kUntouched);
  EXPECT_EQ(ModuleFile(nullptr), exe);
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_EQ(ModuleFile(GetModuleHandleA(nullptr)), exe);
  // Too small: truncated, terminated, the buffer size returned.
  char small[5] = {'x', 'x', 'x', 'x', 'x'};
  SetLastError(kUntouched);
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(small), exe.substr(0, 4));
  // The module of an address inside this program is the program.
  HMODULE self = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCSTR>(&Executable), &self));
  EXPECT_EQ(self, GetModuleHandleA(nullptr));
}

TEST(Modules, LibraryExportsAndReferences) {
  SetLastError(kUntouched);
  HMODULE lib = LoadLibraryA(KV_LIBRARY_PATH);
  ASSERT_NE(lib, nullptr) << GetLastError();
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(KV_LIBRARY_PATH, resolved), nullptr);
  EXPECT_EQ(ModuleFile(lib), resolved);
  // A Windows module name finds the loaded shared object.
  EXPECT_EQ(GetModuleHandleA("korvessa.dll"), lib);
  EXPECT_EQ(GetModuleHandleA("KORVESSA"), lib);

  EXPECT_TRUE(FreeLibrary(lib));

  // Exports, looked up in a library this program links (SQLite): a Windows
  // name loads the shared object already in the process.
  HMODULE sqlite = LoadLibraryA("sqlite3.dll");
  ASSERT_NE(sqlite, nullptr);
  EXPECT_EQ(GetModuleHandleA("SQLite3.DLL"), sqlite);
  FARPROC version = GetProcAddress(sqlite, "sqlite3_libversion");
  ASSERT_NE(version, nullptr);
  HMODULE owner = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(version), &owner));
  EXPECT_EQ(owner, sqlite);
  EXPECT_TRUE(FreeLibrary(owner));
  // Only the module's own exports, not those of what it links.
  SetLastError(kUntouched);
  EXPECT_EQ(GetProcAddress(sqlite, "malloc"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_EQ(GetProcAddress(sqlite, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(FreeLibrary(sqlite));

  SetLastError(kUntouched);
  EXPECT_EQ(LoadLibraryA("no-such-module.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_EQ(GetModuleHandleA("no-such-module.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Modules, NotASharedObject) {
  kv::test::ScopedHome home;
  std::string file = home.path() + "/plain.dll";
  kv::test::WriteFile(file, "not a module");
  SetLastError(kUntouched);
  EXPECT_EQ(LoadLibraryA(file.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
}

// What the engine's probe does, step by step; -1 when the library is absent,
// -2 when the export is missing, otherwise the query's outcome.
int Probe(HRESULT* hr, BOOL* result) {
  HMODULE frame = LoadLibraryA("IEFrame.DLL");
  if (!frame) return -1;
  FARPROC proc = GetProcAddress(frame, "IEIsProtectedModeProcess");
  int outcome = -2;
  if (proc) {
    auto query = reinterpret_cast<ProtectedModeQuery>(reinterpret_cast<void (*)()>(proc));
    *result = 7;
    *hr = query(result);
    outcome = 0;
  }
  EXPECT_TRUE(FreeLibrary(frame));
  return outcome;
}

TEST(Modules, ProtectedModeProbeStandIn) {
  HRESULT hr = 1;
  BOOL result = 0;
  {
    kv::test::ScopedEnv unset("KORVESSA_PROTECTED_MODE", nullptr);
    SetLastError(kUntouched);
    EXPECT_EQ(Probe(&hr, &result), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  }
  {
    kv::test::ScopedEnv on("KORVESSA_PROTECTED_MODE", "1");
    ASSERT_EQ(Probe(&hr, &result), 0);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(result, TRUE);
  }
  {
    kv::test::ScopedEnv off("KORVESSA_PROTECTED_MODE", "0");
    ASSERT_EQ(Probe(&hr, &result), 0);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(result, FALSE);
  }
  {
    kv::test::ScopedEnv fail("KORVESSA_PROTECTED_MODE", "fail");
    ASSERT_EQ(Probe(&hr, &result), 0);
    EXPECT_EQ(hr, E_FAIL);
  }
  {
    kv::test::ScopedEnv none("KORVESSA_PROTECTED_MODE", "noexport");
    SetLastError(kUntouched);
    EXPECT_EQ(Probe(&hr, &result), -2);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  }
  {
    kv::test::ScopedEnv other("KORVESSA_PROTECTED_MODE", "yes");
    EXPECT_EQ(Probe(&hr, &result), -1);
  }
}

// The version record, read the way the engine reads it.
std::string FileVersion(const std::string& file, DWORD* error) {
  DWORD handle = 1;
  SetLastError(kUntouched);
  DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
  *error = GetLastError();
  if (size == 0) return "<none>";
  EXPECT_EQ(handle, 0u);
  std::vector<BYTE> block(size);
  EXPECT_EQ(GetFileVersionInfoA(file.c_str(), 0, size, block.data()), TRUE);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  EXPECT_EQ(VerQueryValueA(block.data(), "\\", reinterpret_cast<LPVOID*>(&info), &length), TRUE);
  if (!info) return "<no root>";
  EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(info->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(info->dwFileVersionMS, info->dwProductVersionMS);
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

#define KV_STR2(x) #x
#define KV_STR(x) KV_STR2(x)
const std::string kBuiltVersion = KV_STR(KV_VERSION_MAJOR) "." KV_STR(KV_VERSION_MINOR) "." KV_STR(
    KV_VERSION_PATCH) "." KV_STR(KV_VERSION_TWEAK);

TEST(VersionRecord, LibraryAndProgramCarryTheProjectVersion) {
  DWORD error = 0;
  EXPECT_EQ(FileVersion(KV_LIBRARY_PATH, &error), kBuiltVersion);
  EXPECT_EQ(FileVersion(Executable(), &error), kBuiltVersion) << "answered from memory";

  // The engine first asks by the bare module name, then by the full path.
  HMODULE lib = LoadLibraryA(KV_LIBRARY_PATH);
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(FileVersion("korvessa.dll", &error), kBuiltVersion);
  EXPECT_EQ(FileVersion(ModuleFile(lib), &error), kBuiltVersion);
  FreeLibrary(lib);
}

TEST(VersionRecord, FilesWithoutARecord) {
  kv::test::ScopedHome home;
  std::string plain = home.path() + "/plain.txt";
  kv::test::WriteFile(plain, std::string(4096, 'x'));
  DWORD error = 0;
  EXPECT_EQ(FileVersion(plain, &error), "<none>");
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(FileVersion(home.path() + "/missing.dll", &error), "<none>");
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FileVersion("never-loaded-module.dll", &error), "<none>");
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A truncated record is not a record.
  std::string image = kv::test::ReadFile(KV_LIBRARY_PATH);
  const char key[] = "V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0\0";
  size_t at = image.find(std::string(key, sizeof key - 1));
  ASSERT_NE(at, std::string::npos);
  kv::test::WriteFile(home.path() + "/cut.dll", image.substr(0, at + 60));
  EXPECT_EQ(FileVersion(home.path() + "/cut.dll", &error), "<none>");
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST(VersionRecord, EveryTruncationIsRefused) {
  const uint8_t* record = kv::platform::EmbeddedVersionRecord();
  size_t size = kv::platform::EmbeddedVersionRecordSize();
  std::vector<uint8_t> image(16, 0xAA);
  image.insert(image.end(), record, record + size);
  size_t offset = 0, length = 0;
  ASSERT_TRUE(kv::platform::FindVersionRecord(image.data(), image.size(), &offset, &length));
  EXPECT_EQ(offset, 16u);
  EXPECT_EQ(length, size);
  for (size_t cut = 0; cut < image.size(); ++cut)
    EXPECT_FALSE(kv::platform::FindVersionRecord(image.data(), cut, &offset, &length)) << cut;
  // A broken signature makes the block no record at all.
  image[16 + 40] ^= 1;
  EXPECT_FALSE(kv::platform::FindVersionRecord(image.data(), image.size(), &offset, &length));
}

TEST(VersionRecord, StringsTranslationAndMissingKeys) {
  DWORD size = GetFileVersionInfoSizeA(KV_LIBRARY_PATH, nullptr);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  SetLastError(kUntouched);
  EXPECT_FALSE(GetFileVersionInfoA(KV_LIBRARY_PATH, 0, size - 1, block.data()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_TRUE(GetFileVersionInfoA(KV_LIBRARY_PATH, 0, size, block.data()));

  LPVOID value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  WORD translation[2];
  std::memcpy(translation, value, sizeof translation);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 0x04B0);
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\FileVersion", &value, &length));
  EXPECT_EQ(std::string(static_cast<const char*>(value)), kBuiltVersion);
  EXPECT_EQ(length, kBuiltVersion.size() + 1);
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\OriginalFilename", &value, &length));
  EXPECT_STREQ(static_cast<const char*>(value), "korvessa.dll");
  SetLastError(kUntouched);
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\NoSuchValue", &value, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST(Environment, ValuesInTheAnsiCodePage) {
  kv::test::ScopedEnv cp("KORVESSA_CODEPAGE", nullptr);
  kv::test::ScopedEnv set("KV_TEST_VARIABLE", u8"功能");
  char buffer[16] = {};
  EXPECT_EQ(GetEnvironmentVariableA("KV_TEST_VARIABLE", buffer, sizeof buffer), 4u);
  EXPECT_STREQ(buffer, "\xA5\x5C\xAF\xE0");
}

TEST(Environment, UserProfileFallsBackToHome) {
  kv::test::ScopedEnv unset("USERPROFILE", nullptr);
  kv::test::ScopedEnv home("HOME", "/home/someone");
  char buffer[MAX_PATH] = {};
  EXPECT_EQ(GetEnvironmentVariableA("USERPROFILE", buffer, sizeof buffer), 13u);
  EXPECT_STREQ(buffer, "/home/someone");
  kv::test::ScopedEnv set("USERPROFILE", "/elsewhere");
  EXPECT_EQ(GetEnvironmentVariableA("USERPROFILE", buffer, sizeof buffer), 10u);
  EXPECT_STREQ(buffer, "/elsewhere");
}

TEST(SystemFacts, WindowsFolderAndVersion) {
  char folder[50];
  SetLastError(kUntouched);
  EXPECT_EQ(GetWindowsDirectoryA(folder, sizeof folder), 10u);
  EXPECT_STREQ(folder, "C:\\Windows");
  EXPECT_EQ(GetWindowsDirectoryA(folder, 10), 11u);
  EXPECT_EQ(GetLastError(), kUntouched);

  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  SetLastError(kUntouched);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_EQ(info.dwMajorVersion, 10u);
  EXPECT_EQ(info.dwMinorVersion, 0u);
  EXPECT_EQ(info.dwBuildNumber, 19045u);
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  OSVERSIONINFOEXA ex = {};
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
  EXPECT_EQ(ex.wProductType, VER_NT_WORKSTATION);
  EXPECT_EQ(ex.dwMajorVersion, 10u);
  OSVERSIONINFOA wrong = {};
  wrong.dwOSVersionInfoSize = sizeof wrong - 1;
  SetLastError(kUntouched);
  EXPECT_FALSE(GetVersionExA(&wrong));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(wrong.dwMajorVersion, 0u);
}

}  // namespace
