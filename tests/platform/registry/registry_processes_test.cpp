// The registry across processes: values written by one process are read by
// the next, writers running at the same time lose nothing, and the
// administration tool is the way machine settings reach programs.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/registry/registry_test_support.h"

namespace kv::test {
namespace {

constexpr int kWriters = 4;
constexpr int kValuesPerWriter = 40;

// Runs this test binary again with only `test` selected and the current
// environment plus `env`; returns the child's pid.
pid_t SpawnSelf(const std::string& test, const std::vector<std::string>& env) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
  // The child's own test report would only clutter the parent's.
  int devnull = open("/dev/null", O_WRONLY);
  if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
  std::string filter = "--gtest_filter=" + test;
  execl("/proc/self/exe", "korvessa_tests", filter.c_str(), "--gtest_brief=1", static_cast<char*>(nullptr));
  _exit(127);
}

int Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ToolPath() {
  std::string host = KV_HOST_PATH;
  return host.substr(0, host.rfind('/')) + "/korvessa-reg";
}

// The writer run in the child processes; does nothing in a normal run.
TEST(RegistryWriterProcess, WritesItsShare) {
  const char* id = std::getenv("KV_REGISTRY_WRITER");
  if (!id) GTEST_SKIP() << "runs only as a child of the concurrency test";
  HKEY shared = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KvShared", &shared));
  for (int i = 0; i < kValuesPerWriter; ++i) {
    std::string name = std::string("writer") + id + "-" + std::to_string(i);
    DWORD value = static_cast<DWORD>(i);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(shared, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4));
    // Keys created along the same path by every writer at once.
    HKEY own = nullptr;
    std::string path = "Software\\KvShared\\Common\\" + std::to_string(i % 5) + "\\w" + id;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &own));
    RegCloseKey(own);
  }
  RegCloseKey(shared);
}

class RegistryProcesses : public RegistryTest {};

TEST_F(RegistryProcesses, ConcurrentWritersLoseNothing) {
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w)
    children.push_back(SpawnSelf("RegistryWriterProcess.WritesItsShare", {"KV_REGISTRY_WRITER=" + std::to_string(w)}));
  for (pid_t pid : children) EXPECT_EQ(0, Wait(pid));

  HKEY shared = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvShared", 0, KEY_READ, &shared));
  DWORD values = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(shared, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                            nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(kWriters * kValuesPerWriter), values);
  RegCloseKey(shared);
  for (int bucket = 0; bucket < 5; ++bucket) {
    HKEY key = nullptr;
    std::string path = "Software\\KvShared\\Common\\" + std::to_string(bucket);
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key));
    DWORD subkeys = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(kWriters), subkeys) << path;
    RegCloseKey(key);
  }
}

TEST_F(RegistryProcesses, ValuesOutliveTheProcessThatWroteThem) {
  std::string tool = ToolPath();
  if (access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "korvessa-reg is not built at " << tool;
  ASSERT_EQ(0, RunCommand("'" + tool + "' set 'HKCU\\Software\\KvTool' Greeting REG_SZ 'from another process'"));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvTool", 0, KEY_ALL_ACCESS, &key));
  EXPECT_STREQ("from another process", reinterpret_cast<const char*>(QueryBytes(key, "Greeting").data()));

  DWORD answer = 42;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Answer", 0, REG_DWORD, reinterpret_cast<BYTE*>(&answer), 4));
  RegCloseKey(key);
  std::string out;
  ASSERT_EQ(0, RunCommand("'" + tool + "' get 'HKCU\\Software\\KvTool' Answer", &out));
  EXPECT_EQ("Answer\tREG_DWORD\t42\n", out);
}

TEST_F(RegistryProcesses, AdministrationToolWritesTheMachineHive) {
  std::string tool = ToolPath();
  if (access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "korvessa-reg is not built at " << tool;
  ASSERT_EQ(0, RunCommand("'" + tool + "' set 'HKLM\\Software\\KvPolicy' Level REG_DWORD 3"));
  ASSERT_EQ(0, RunCommand("'" + tool + "' set 'HKLM\\Software\\KvPolicy' @ REG_SZ '許功蓋'"));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\KvPolicy", 0, KEY_READ, &key));
  std::vector<BYTE> level = QueryBytes(key, "Level");
  ASSERT_EQ(4u, level.size());
  EXPECT_EQ(3, level[0]);
  EXPECT_EQ(AnsiFromUtf8("許功蓋"), reinterpret_cast<const char*>(QueryBytes(key, "").data()));
  RegCloseKey(key);

  std::string out;
  ASSERT_EQ(0, RunCommand("'" + tool + "' list 'HKLM\\Software\\KvPolicy'", &out));
  EXPECT_EQ("Level\tREG_DWORD\t3\n@\tREG_SZ\t許功蓋\n", out);
  ASSERT_EQ(0, RunCommand("'" + tool + "' delete-key 'HKLM\\Software\\KvPolicy'"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\KvPolicy", 0, KEY_READ, &key));
}

}  // namespace
}  // namespace kv::test
