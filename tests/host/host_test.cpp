// The command-line host end to end: one call per run with its exit codes,
// and the batch mode's JSON lines, including malformed and hostile ones.
// Operations are picked from the operation table, not by probing the build.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "engine/operation_params.h"
#include "support/temp_home.h"

namespace {

// The operation table as the host's tests use it: its names, and arguments
// of the right types to call it with.
struct TableOperation {
  const char* name;
  const char* exportName;
  std::vector<char> params;  // 'S' for a BSTR, 'L' for a LONG

  std::string CommandLine() const {
    std::string line = name;
    for (char p : params) line += p == 'S' ? " a" : " 0";
    return line;
  }
};

#define KV_HOST_PARAM(type, name) KV_HOST_PARAM_##type
#define KV_HOST_PARAM_BSTR 'S'
#define KV_HOST_PARAM_LONG 'L'
#define KV_OPERATION(slot, dispid, result, name, exportName, params, policy) \
  {#name, #exportName, {KV_PARAM_LIST(KV_HOST_PARAM, params)}},
const std::vector<TableOperation> kOperations = {
#include "engine/operation_table.h"
};

const TableOperation* FindOperation(const std::string& name) {
  for (const TableOperation& op : kOperations)
    if (name == op.name) return &op;
  return nullptr;
}

struct HostRun {
  int status;
  std::string out;
  std::string err;
};

class Host : public kv::test::HomeTest {
 protected:
  // Runs the host with `args` (already shell-quoted) and `input` on stdin.
  HostRun Call(const std::string& args, const std::string& input = "", const std::string& env = "") {
    std::string in = home_.path() + "/stdin";
    std::string err = home_.path() + "/stderr";
    kv::test::WriteFile(in, input);
    HostRun run;
    run.status = kv::test::RunCommand(env + " '" + std::string(KV_HOST_PATH) + "' " + args + " <'" + in + "' 2>'" +
                                          err + "'",
                                      &run.out);
    run.err = kv::test::ReadFile(err);
    return run;
  }

  std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

  static std::string Version() {
    char v[64];
    std::snprintf(v, sizeof v, "%d.%d.%d.%d", KV_VERSION_MAJOR, KV_VERSION_MINOR, KV_VERSION_PATCH, KV_VERSION_TWEAK);
    return v;
  }
};

TEST_F(Host, OneCallPrintsTheResult) {
  HostRun port = Call("GetPortEx");
  EXPECT_EQ(port.status, 0) << port.err;
  EXPECT_EQ(port.out, "65537\n");

  HostRun version = Call("GetVersion");
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out, Version() + "\n");
  EXPECT_EQ(Call("getdllversion").out, Version() + "\n") << "the export name and any case work too";

  HostRun message = Call("GetErrorMsg");
  EXPECT_EQ(message.status, 0);
  EXPECT_EQ(message.out, u8"成功(0)\n");
  EXPECT_EQ(Call("GetErrorCode").out, "0\n");
  // A fresh process's library reports success (in this test process other
  // tests have called the library already).
  EXPECT_EQ(Call("GetCapiErrorCode").out, "0\n");
  EXPECT_EQ(Call("GetCapiErrorMsg").out, u8"成功(0)\n");
}

TEST_F(Host, UsageMistakesExitWithTwo) {
  HostRun unknown = Call("NoSuchOperation");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown operation"), std::string::npos);
  EXPECT_TRUE(unknown.out.empty());

  HostRun extra = Call("GetPortEx 1");
  EXPECT_EQ(extra.status, 2);
  EXPECT_NE(extra.err.find("takes 0 arguments"), std::string::npos);

  HostRun missing = Call("Hash abc");
  EXPECT_EQ(missing.status, 2);

  for (const char* bad : {"12x", "0x", "0x100000000", "4294967296", "-2147483649", "''", "1.5"}) {
    HostRun r = Call(std::string("Hash abc ") + bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("32-bit integer"), std::string::npos) << bad << ": " << r.err;
  }

  HostRun badUtf8 = Call("Hash \"$(printf '\\377')\" 0");
  EXPECT_EQ(badUtf8.status, 2);
  EXPECT_EQ(Call("").status, 2);
  EXPECT_EQ(Call("--bogus").status, 2);
  EXPECT_EQ(Call("--batch extra").status, 2);
}

TEST_F(Host, UnusableLibraryIsReportedNotCalled) {
  HostRun missing = Call("GetPortEx", "", "KORVESSA_LIBRARY='" + home_.path() + "/absent.so'");
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_NE(missing.err.find("cannot load the engine library"), std::string::npos) << missing.err;

  // A loadable library that is not the engine (no string calls to free
  // results with) is refused as well.
  HostRun foreign = Call("GetPortEx", "", "KORVESSA_LIBRARY=libm.so.6");
  EXPECT_EQ(foreign.status, 2);
  EXPECT_NE(foreign.err.find("does not export SysFreeString"), std::string::npos) << foreign.err;

  HostRun batch = Call("--batch", "{\"call\": \"GetPortEx\"}\n", "KORVESSA_LIBRARY='" + home_.path() + "/absent.so'");
  EXPECT_EQ(batch.status, 2);
  EXPECT_TRUE(batch.out.empty());

  HostRun help = Call("--help", "", "KORVESSA_LIBRARY='" + home_.path() + "/absent.so'");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.find(" available\n"), std::string::npos) << "nothing is available without the library";
  EXPECT_NE(help.out.find("cannot load the engine library"), std::string::npos);
}

TEST_F(Host, HelpListsEveryOperation) {
  HostRun help = Call("--help");
  EXPECT_EQ(help.status, 0);
  auto lines = Lines(help.out);
  int operations = 0;
  for (const auto& l : lines)
    if (l.find("available") != std::string::npos) ++operations;
  EXPECT_EQ(operations, static_cast<int>(kOperations.size()));
  EXPECT_NE(help.out.find("GetPortEx() -> LONG"), std::string::npos);
  EXPECT_NE(help.out.find("SelectSignerEx2(BSTR certFilter, BSTR strPfxPath, BSTR strPfxName, LONG dwPort, "
                          "BSTR strCompareDate, LONG dwFlags, LONG dwKeyUsage) -> LONG"),
            std::string::npos);
}

TEST_F(Host, EngineFailureExitsWithOneAndPrintsTheMessage) {
  // GetMacAddress refuses in a protected-mode process.
  const TableOperation* op = FindOperation("GetMacAddress");
  ASSERT_NE(op, nullptr);
  HostRun r = Call(op->CommandLine(), "", "KORVESSA_PROTECTED_MODE=1");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty() || r.out == "\n") << r.out;
  EXPECT_NE(r.err.find("(1500)"), std::string::npos) << r.err;
}

TEST_F(Host, BatchRunsEveryLineInOneEngine) {
  const std::string input =
      "{\"call\": \"GetPortEx\", \"args\": []}\n"
      "\n"
      "{\"call\":\"GetVersion\"}\r\n"
      "not json\n"
      "{\"call\": \"GetP\\u006frtEx\"}\n"
      "{\"call\": \"NoSuch\", \"args\": []}\n"
      "{\"call\": \"GetErrorMsg\", \"args\": [1]}\n"
      "{\"call\": \"Hash\", \"args\": [1, \"x\"]}\n"
      "{\"call\": \"Hash\", \"args\": [\"a\\u0000b\", 0]}\n"
      "{\"call\": \"Hash\", \"args\": [\"x\", 1.5]}\n"
      "{\"call\": \"Hash\", \"args\": [\"x\", 4294967296]}\n"
      "{\"call\": \"\\ud83d\\ude00\"}\n"
      "{\"call\": \"GetPortEx\", \"call\": \"GetVersion\"}\n"
      "[\"GetPortEx\"]\n"
      "{\"call\": \"GetErrorMsg\", \"args\": []} trailing\n"
      "{\"call\": \"\xff\"}\n"
      "{\"call\": \"GetErrorCode\", \"args\": []}\n";
  HostRun run = Call("--batch", input);
  ASSERT_EQ(run.status, 0) << run.err;
  auto lines = Lines(run.out);
  const std::vector<std::string> expected = {
      u8"{\"call\": \"GetPortEx\", \"result\": 65537, \"error\": 0, \"capiError\": 0, \"message\": \"成功(0)\"}",
      u8"{\"call\": \"GetVersion\", \"result\": \"" + Version() +
          u8"\", \"error\": 0, \"capiError\": 0, \"message\": \"成功(0)\"}",
      "{\"invalid\": \"bad JSON: unknown literal at byte 0\", \"line\": 4}",
      u8"{\"call\": \"GetPortEx\", \"result\": 65537, \"error\": 0, \"capiError\": 0, \"message\": \"成功(0)\"}",
      "{\"call\": \"NoSuch\", \"invalid\": \"unknown operation\", \"line\": 6}",
      "{\"call\": \"GetErrorMsg\", \"invalid\": \"takes 0 arguments, 1 given: GetErrorMsg() -> BSTR\", \"line\": 7}",
      "{\"call\": \"Hash\", \"invalid\": \"argument 1 (strPlainText) must be a string\", \"line\": 8}",
      "{\"call\": \"Hash\", \"invalid\": \"argument 1 (strPlainText) contains a NUL character\", \"line\": 9}",
      "{\"call\": \"Hash\", \"invalid\": \"argument 2 (dwFlags) must be an integer from -2147483648 to 4294967295\", "
      "\"line\": 10}",
      "{\"call\": \"Hash\", \"invalid\": \"argument 2 (dwFlags) must be an integer from -2147483648 to 4294967295\", "
      "\"line\": 11}",
      u8"{\"call\": \"😀\", \"invalid\": \"unknown operation\", \"line\": 12}",
      "{\"invalid\": \"a call needs exactly one \\\"call\\\" and at most one \\\"args\\\"\", \"line\": 13}",
      "{\"invalid\": \"a call must be a JSON object\", \"line\": 14}",
      "{\"invalid\": \"bad JSON: unexpected text after the value at byte 36\", \"line\": 15}",
      "{\"invalid\": \"bad JSON: invalid UTF-8 at byte 10\", \"line\": 16}",
      "{\"call\": \"GetErrorCode\", \"result\": 0, \"error\": 0, \"capiError\": 0, \"message\": \"" + std::string(u8"成功(0)") +
          "\"}",
  };
  ASSERT_EQ(lines.size(), expected.size()) << run.out;
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i;
}

TEST_F(Host, BatchSurvivesHostileInput) {
  std::string input;
  input += std::string(100000, '[') + "\n";                      // nesting far beyond the limit
  input += "{\"call\": \"GetPortEx\", \"args\": [" + std::string(50000, ' ') + "]}\n";
  input += "{\"call\": \"\\ud800\", \"args\": []}\n";             // a lone surrogate
  input += "{\"call\": \"GetPortEx\", \"args\": [], \"x\": \"\\u12\"}\n";  // truncated escape
  input += "{\"call\": \"GetPortEx\", \"args\": [";
  for (int i = 0; i < 200000; ++i) input += "1,";                  // far more values than a call has
  input += "1]}\n";
  input += "{\"call\": \"GetPortEx\", \"args\": []";              // unterminated, no newline at the end
  HostRun run = Call("--batch", input);
  ASSERT_EQ(run.status, 0) << run.err;
  auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 6u) << run.out;
  EXPECT_NE(lines[0].find("nesting too deep"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("\"result\": 65537"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("\"call\": \"\xEF\xBF\xBD\", \"invalid\": \"unknown operation\""), std::string::npos)
      << lines[2];
  EXPECT_NE(lines[3].find("bad \\\\u escape"), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find("too many values"), std::string::npos) << lines[4];
  EXPECT_NE(lines[5].find("unterminated object"), std::string::npos) << lines[5];
}

}  // namespace
