// FormatMessageA and LocalFree as Windows behaves, and the completeness of
// the message table against the error numbers the headers define.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "kernel/system_messages_data.h"

namespace {

constexpr DWORD kUntouched = 0xdeadbeef;
constexpr DWORD kSystemFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;

// The system's text for `id`, allocated by FormatMessageA; "<none>" with the
// last error when there is none.
std::string SystemText(DWORD id, DWORD* error = nullptr) {
  LPSTR text = nullptr;
  SetLastError(kUntouched);
  DWORD n = FormatMessageA(kSystemFlags, nullptr, id, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (error) *error = GetLastError();
  if (n == 0) {
    EXPECT_EQ(text, nullptr);
    return "<none>";
  }
  std::string result(text, n);
  EXPECT_EQ(std::strlen(text), n);
  EXPECT_EQ(LocalFree(text), nullptr);
  return result;
}

TEST(FormatMessage, WindowsTexts) {
  EXPECT_EQ(SystemText(ERROR_SUCCESS), "The operation completed successfully.\r\n");
  EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED), "Access is denied.\r\n");
  EXPECT_EQ(SystemText(ERROR_INVALID_PARAMETER), "The parameter is incorrect.\r\n");
  EXPECT_EQ(SystemText(ERROR_MORE_DATA), "More data is available.\r\n");
  EXPECT_EQ(SystemText(ERROR_CANCELLED), "The operation was canceled by the user.\r\n");
  EXPECT_EQ(SystemText(ERROR_INVALID_PASSWORD), "The specified network password is not correct.\r\n");
  EXPECT_EQ(SystemText(NTE_BAD_KEYSET), "Keyset does not exist\r\n");
  EXPECT_EQ(SystemText(NTE_BAD_SIGNATURE), "Invalid Signature.\r\n");
  EXPECT_EQ(SystemText(NTE_EXISTS), "Object already exists.\r\n");
  EXPECT_EQ(SystemText(CRYPT_E_NOT_FOUND), "Cannot find object or property.\r\n");
  EXPECT_EQ(SystemText(CRYPT_E_ASN1_BADTAG), "ASN1 bad tag value met.\r\n");
  EXPECT_EQ(SystemText(CERT_E_EXPIRED),
            "A required certificate is not within its validity period when verifying against the current system "
            "clock or the timestamp in the signed file.\r\n");
  EXPECT_EQ(SystemText(E_FAIL), "Unspecified error\r\n");
  EXPECT_EQ(SystemText(E_UNEXPECTED), "Catastrophic failure\r\n");
  // HRESULTs of the Win32 facility read as their Win32 error.
  EXPECT_EQ(SystemText(E_ACCESSDENIED), "Access is denied.\r\n");
  EXPECT_EQ(SystemText(E_INVALIDARG), "The parameter is incorrect.\r\n");
  EXPECT_EQ(SystemText(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)), "The file exists.\r\n");
  // Inserts stay as they are when ignored.
  EXPECT_EQ(SystemText(ERROR_BAD_EXE_FORMAT), "%1 is not a valid Win32 application.\r\n");
}

TEST(FormatMessage, UnknownNumbersHaveNoText) {
  for (DWORD id : {0xdeadbeefu, 0x12345u, 0x80090FFFu, 0x80070000u, 0xFFFFFFFFu}) {
    DWORD error = 0;
    EXPECT_EQ(SystemText(id, &error), "<none>") << std::hex << id;
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND)) << std::hex << id;
  }
}

TEST(FormatMessage, CallerBufferAndFlags) {
  char buffer[64];
  SetLastError(kUntouched);
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED,
                           0, buffer, sizeof buffer, nullptr);
  EXPECT_EQ(n, 19u);
  EXPECT_STREQ(buffer, "Access is denied.\r\n");
  EXPECT_EQ(GetLastError(), kUntouched);
  // Exactly the text and its terminator fit; one less does not.
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 20, nullptr), 19u);
  SetLastError(kUntouched);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 19, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  // English is the only language the system has.
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED,
                           MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buffer, sizeof buffer, nullptr),
            19u);
  SetLastError(kUntouched);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0x0404, buffer, sizeof buffer,
                           nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
  // The maximum-width setting turns line ends into spaces.
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr, ERROR_ACCESS_DENIED,
                           0, buffer, sizeof buffer, nullptr),
            18u);
  EXPECT_STREQ(buffer, "Access is denied. ");
  // An insert needs arguments unless it is ignored.
  SetLastError(kUntouched);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_BAD_EXE_FORMAT, 0, buffer, sizeof buffer, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(LocalMemory, FreeRefusesWhatItDidNotAllocate) {
  HLOCAL block = LocalAlloc(LPTR, 16);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(LocalSize(block), 16u);
  EXPECT_EQ(static_cast<char*>(block)[15], 0);
  SetLastError(kUntouched);
  EXPECT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(GetLastError(), kUntouched);
  SetLastError(kUntouched);
  EXPECT_EQ(LocalFree(block), block) << "a second free is refused";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  int local = 0;
  EXPECT_EQ(LocalFree(&local), static_cast<HLOCAL>(&local));
  EXPECT_EQ(LocalFree(nullptr), nullptr);
}

// Every Win32 error and every HRESULT the headers define must have its text,
// so that the engine's platform-error message never comes out empty. Add the
// Windows text to src/platform/kernel/system_messages_data.h with any new
// number.
TEST(FormatMessage, EveryDefinedNumberHasItsText) {
  std::ifstream in(std::string(KV_SOURCE_DIR) + "/src/platform/include/kvwin/errors.h");
  ASSERT_TRUE(in) << "errors.h not found";
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  std::regex define(R"(#define\s+((?:ERROR|NTE|CRYPT_E|CERT_E|TRUST_E|E|DISP_E)_\w+)\s+(?:\(\(HRESULT\))?(0x[0-9A-Fa-f]+|\d+)L)");
  size_t checked = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), define), end; it != end; ++it) {
    DWORD id = static_cast<DWORD>(std::stoul((*it)[2].str(), nullptr, 0));
    EXPECT_NE(SystemText(id), "<none>") << (*it)[1].str() << " has no system text";
    ++checked;
  }
  EXPECT_GT(checked, 150u);
}

TEST(FormatMessage, TableIsSortedAndWellFormed) {
  std::set<unsigned long> seen;
  for (size_t i = 0; i < sizeof kSystemMessages / sizeof kSystemMessages[0]; ++i) {
    if (i) {
      EXPECT_LT(kSystemMessages[i - 1].id, kSystemMessages[i].id) << "entry " << i;
    }
    std::string t = kSystemMessages[i].text;
    EXPECT_FALSE(t.empty());
    EXPECT_NE(t.back(), '\n') << "the line end is added by FormatMessageA";
  }
}

}  // namespace
