// The browsers' native host as a browser runs it: a separate process
// talking frames on its standard input and output. Admission by the
// allow-list or the user's consent, one origin per connection, the lists'
// own key out of a page's reach, answers too large for a browser, and one
// site never seeing the signer another site selected.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <limits.h>
#include <stdlib.h>

#include <csignal>
#include <memory>
#include <string>

#include "kvcommon/json.h"
#include "kvcommon/native_frame.h"
#include "registry/registry_admin.h"
#include "sign/sign_test_support.h"
#include "ui/dialog_test_support.h"

namespace {

using kv::json::Value;
using kv::test::ScopedEnv;
using kv::test::ScriptedDialogs;

constexpr int kSiteNotAllowed = 1502;
const char kAllowed[] = "http://127.0.0.1:8000";
const char kOther[] = "http://127.0.0.1:9000";

// One connection: the host process with its standard input and output.
class HostConnection {
 public:
  HostConnection() {
    int toHost[2], fromHost[2];
    if (pipe(toHost) != 0 || pipe(fromHost) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(toHost[0], 0);
      dup2(fromHost[1], 1);
      close(toHost[1]);
      close(fromHost[0]);
      execl(KV_NATIVE_HOST_PATH, "korvessa-nm", "chrome-extension://test/", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(toHost[0]);
    close(fromHost[1]);
    in_ = fromHost[0];
    out_ = toHost[1];
  }
  ~HostConnection() { Close(); }
  HostConnection(const HostConnection&) = delete;
  HostConnection& operator=(const HostConnection&) = delete;

  // Sends one message and reads the answer; an empty object when none came.
  Value Call(const std::string& message) {
    kv::native::FdOutput out(out_);
    EXPECT_EQ(kv::native::WriteStatus::kWritten, kv::native::WriteFrame(out, message, kv::native::kMaxMessageToHost));
    return Answer();
  }
  Value Answer() {
    kv::native::FdInput in(in_);
    std::string text;
    Value answer;
    lastSize_ = 0;
    if (kv::native::ReadFrame(in, kv::native::kMaxMessageToBrowser, &text) != kv::native::ReadStatus::kMessage)
      return answer;
    lastSize_ = text.size();
    std::string error;
    EXPECT_TRUE(kv::json::Parse(text, &answer, &error)) << error << ": " << text;
    return answer;
  }
  size_t lastSize() const { return lastSize_; }

  // Ends the connection as a browser does; the host's exit status.
  int Close() {
    if (pid_ <= 0) return -1;
    close(out_);
    close(in_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  size_t lastSize_ = 0;
};

std::string Message(int id, const std::string& origin, const std::string& call, const std::string& args = "[]") {
  std::string out = "{\"id\": " + std::to_string(id) + ", \"origin\": ";
  kv::json::AppendQuoted(origin, &out);
  out += ", \"call\": ";
  kv::json::AppendQuoted(call, &out);
  return out + ", \"args\": " + args + "}";
}

int ErrorOf(const Value& answer) {
  const Value* error = answer.Find("error");
  return error && error->isInteger ? static_cast<int>(error->integer) : -1;
}
std::string ResultText(const Value& answer) {
  const Value* result = answer.Find("result");
  return result ? result->Utf8() : "<none>";
}

class NativeHostTest : public kv::test::SigningTest {
 protected:
  NativeHostTest()
      : machineHome_(home_.path() + "/machine"), machineEnv_("KORVESSA_MACHINE_HOME", machineHome_.c_str()) {
    std::signal(SIGPIPE, SIG_IGN);
  }
  ~NativeHostTest() override { kv::platform::SetMachineRegistryAdministration(false); }

  void SetMachineValue(const char* key, const char* name, DWORD type, const void* data, DWORD size) {
    kv::platform::SetMachineRegistryAdministration(true);
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(handle);
    kv::platform::SetMachineRegistryAdministration(false);
  }
  void AllowOnMachine(const char* origin) {
    SetMachineValue("SOFTWARE\\Korvessa\\CAPI\\AllowedSites", "site", REG_SZ, origin,
                    static_cast<DWORD>(strlen(origin) + 1));
  }
  void AllowUserSites() {
    DWORD one = 1;
    SetMachineValue("SOFTWARE\\Korvessa\\CAPI", "AllowUserSites", REG_DWORD, &one, sizeof one);
  }
  size_t UserListSize() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Korvessa\\CAPI\\AllowedSites", 0, KEY_READ, &key) != 0)
      return 0;
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return values;
  }

  std::string machineHome_;
  ScopedEnv machineEnv_;
};

TEST_F(NativeHostTest, ListedOriginIsServedAndTheConnectionStaysItsOwn) {
  AllowOnMachine(kAllowed);
  HostConnection host;
  Value answer = host.Call(Message(7, kAllowed, "GetVersion"));
  EXPECT_EQ(0, ErrorOf(answer));
  EXPECT_FALSE(ResultText(answer).empty());
  EXPECT_EQ(7, answer.Find("id")->integer);
  EXPECT_EQ("GetVersion", answer.Find("call")->Utf8());

  // Another origin on the same connection: refused, never run.
  answer = host.Call(Message(8, kOther, "GetVersion"));
  EXPECT_EQ(kSiteNotAllowed, ErrorOf(answer));
  EXPECT_EQ("", ResultText(answer));
  // The page may not put a site on the user's list through the engine.
  answer = host.Call(Message(9, kAllowed, "RegWriteHKCUStr",
                             "[\"Software\\\\Korvessa\\\\CAPI\\\\AllowedSites\\\\x\", \"http://127.0.0.1:9000\"]"));
  EXPECT_EQ(kSiteNotAllowed, ErrorOf(answer));
  EXPECT_EQ(0u, UserListSize());
  // Other settings stay writable.
  answer = host.Call(Message(10, kAllowed, "RegWriteHKCUStr", "[\"Software\\\\Trade\\\\last\", \"2330\"]"));
  EXPECT_EQ(0, ErrorOf(answer));
  // A message without an origin is not a call.
  answer = host.Call("{\"id\": 11, \"call\": \"GetVersion\"}");
  EXPECT_NE(nullptr, answer.Find("invalid"));
  EXPECT_EQ(0, host.Close());
}

TEST_F(NativeHostTest, UnlistedOriginIsRefusedWithoutAskingWhereUsersMayNotAddSites) {
  AllowOnMachine(kAllowed);
  ScriptedDialogs run(R"([{"dialog": 208, "press": 1}])");
  HostConnection host;
  for (int id = 1; id <= 2; ++id) {
    Value answer = host.Call(Message(id, kOther, "GetCertSubjectCN"));
    EXPECT_EQ(kSiteNotAllowed, ErrorOf(answer));
    EXPECT_NE(std::string::npos, answer.Find("message")->Utf8().find("1502"));
  }
  EXPECT_TRUE(run.Events("dialog").empty());
  // Pages that are no http(s) origin at all.
  for (const char* origin : {"null", "file://", "chrome-extension://abc"}) {
    HostConnection other;
    EXPECT_EQ(kSiteNotAllowed, ErrorOf(other.Call(Message(1, origin, "GetVersion")))) << origin;
  }
}

TEST_F(NativeHostTest, OriginsBeyondPrintableAsciiAreRefusedWhole) {
  // The library reads a terminated string: before the host checked, the
  // allowed prefix ahead of a NUL was judged and admitted the whole text.
  AllowOnMachine(kAllowed);
  for (const std::string& tail : {std::string("\0.evil.example", 14), std::string("\t"), std::string(" "),
                                  std::string("\x7f"), std::string("\xc3\xa9")}) {
    HostConnection host;
    const std::string origin = kAllowed + tail;
    EXPECT_EQ(kSiteNotAllowed, ErrorOf(host.Call(Message(1, origin, "GetVersion")))) << origin;
    EXPECT_EQ(kSiteNotAllowed, ErrorOf(host.Call(Message(2, origin, "GetVersion")))) << origin;
  }
}

TEST_F(NativeHostTest, ConsentOnceAlwaysAndDenyWhereUsersMayAddSites) {
  AllowUserSites();
  {
    ScriptedDialogs run(R"([{"dialog": 208, "press": 2}])");
    HostConnection host;
    EXPECT_EQ(kSiteNotAllowed, ErrorOf(host.Call(Message(1, kOther, "GetVersion"))));
    EXPECT_EQ(kSiteNotAllowed, ErrorOf(host.Call(Message(2, kOther, "GetVersion"))));
    EXPECT_EQ(1u, run.Events("dialog").size());  // asked once per connection
  }
  {
    ScriptedDialogs run(R"([{"dialog": 208, "press": 1}])");
    HostConnection host;
    EXPECT_EQ(0, ErrorOf(host.Call(Message(1, kOther, "GetVersion"))));
    EXPECT_EQ(0u, UserListSize());
  }
  {
    ScriptedDialogs run(R"([{"dialog": 208, "press": 310}])");
    HostConnection host;
    EXPECT_EQ(0, ErrorOf(host.Call(Message(1, kOther, "GetVersion"))));
    EXPECT_EQ(1u, UserListSize());
  }
  {
    // Remembered: the next connection is served without a dialog.
    ScriptedDialogs run("[]");
    HostConnection host;
    EXPECT_EQ(0, ErrorOf(host.Call(Message(1, kOther, "GetVersion"))));
    EXPECT_TRUE(run.Events("dialog").empty());
  }
}

TEST_F(NativeHostTest, AnswersTooLargeForABrowserAreReplacedByASmallRefusal) {
  AllowOnMachine(kAllowed);
  HostConnection host;
  // An unknown operation's name is echoed in its answer.
  const std::string huge(kv::native::kMaxMessageToBrowser, 'A');
  Value answer = host.Call(Message(3, kAllowed, huge));
  ASSERT_NE(nullptr, answer.Find("invalid"));
  EXPECT_NE(std::string::npos, answer.Find("invalid")->Utf8().find("longer than"));
  EXPECT_EQ(3, answer.Find("id")->integer);
  EXPECT_LT(host.lastSize(), 1024u);
  // The connection goes on.
  EXPECT_EQ(0, ErrorOf(host.Call(Message(4, kAllowed, "GetVersion"))));
}

TEST_F(NativeHostTest, OneSiteNeverSeesTheSignerAnotherSelected) {
  AllowOnMachine(kAllowed);
  SetMachineValue("SOFTWARE\\Korvessa\\CAPI\\AllowedSites", "other", REG_SZ, kOther, sizeof kOther);
  WritePfx("signer.pfx", *signer_, {root_.get()});
  std::string args = "[\"\", ";
  kv::json::AppendQuoted(folder_.path(), &args);
  args += ", \"signer.pfx\", 0, \"\", 512, 0]";

  // SelectSignerEx2 keeps its signer for the user's other engines, and with
  // a port takes the one another engine kept.
  std::unique_ptr<HostConnection> first;  // kept open, as the site's tab is
  {
    ScriptedDialogs password(R"([{"dialog": 202, "set": {"303": "1234"}, "press": 1}])");
    first = std::make_unique<HostConnection>();
    ASSERT_EQ(0, ErrorOf(first->Call(Message(1, kAllowed, "SelectSignerEx2", args))));
  }
  ASSERT_NE("", ResultText(first->Call(Message(2, kAllowed, "GetCertSubjectCN"))));

  // The same site in a second connection finds its signer, and signs once
  // the person confirms (no flag asks for the confirmation: a page cannot
  // skip it)...
  const std::string fromCache = "[\"S_CN=Nobody\", \"\", \"\", 1, \"\", 256, 0]";
  ScriptedDialogs run(R"([{"dialog": 201, "press": 1}])");
  HostConnection sameSite;
  ASSERT_EQ(0, ErrorOf(sameSite.Call(Message(1, kAllowed, "SelectSignerEx2", fromCache))));
  EXPECT_NE("", ResultText(sameSite.Call(Message(2, kAllowed, "GetCertSubjectCN"))));
  Value mine = sameSite.Call(Message(3, kAllowed, "SignPkcs1", "[\"x\", 0]"));
  EXPECT_EQ(0, ErrorOf(mine));
  EXPECT_NE("", ResultText(mine));
  EXPECT_EQ(1u, run.Events("dialog").size());

  // ...while another site finds none.
  HostConnection otherSite;
  EXPECT_NE(0, ErrorOf(otherSite.Call(Message(1, kOther, "SelectSignerEx2", fromCache))));
  EXPECT_EQ("", ResultText(otherSite.Call(Message(2, kOther, "GetCertSubjectCN"))));
  Value theirs = otherSite.Call(Message(3, kOther, "SignPkcs1", "[\"x\", 0]"));
  EXPECT_EQ("", ResultText(theirs));
  EXPECT_EQ(ERR_NO_SIGNER, ErrorOf(theirs));
}

}  // namespace

namespace {

// `korvessa-nm --install` in a user's home: the three browsers' manifests,
// naming this host and the extension, replaced whole when run again;
// `--uninstall` removes them.
TEST(NativeHostInstall, WritesEachBrowsersManifestIntoTheProfile) {
  kv::test::TempFolder home;
  kv::test::ScopedEnv useHome("HOME", home.path().c_str());
  std::string out;
  ASSERT_EQ(0, kv::test::RunCommand("'" + std::string(KV_NATIVE_HOST_PATH) + "' --install", &out)) << out;
  ASSERT_EQ(0, kv::test::RunCommand("'" + std::string(KV_NATIVE_HOST_PATH) + "' --install", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("liellhacedcelhjakjbkggpnkjpijcnk")) << out;

  char hostPath[PATH_MAX];
  ASSERT_NE(nullptr, realpath(KV_NATIVE_HOST_PATH, hostPath));
  struct Expected {
    const char* folder;
    const char* allowKey;
    const char* allowed;
  };
  for (const Expected& e :
       {Expected{"/.config/chromium/NativeMessagingHosts", "allowed_origins",
                 "chrome-extension://liellhacedcelhjakjbkggpnkjpijcnk/"},
        Expected{"/.config/google-chrome/NativeMessagingHosts", "allowed_origins",
                 "chrome-extension://liellhacedcelhjakjbkggpnkjpijcnk/"},
        Expected{"/.mozilla/native-messaging-hosts", "allowed_extensions", "capi@korvessa.tw"}}) {
    const std::string folder = home.path() + e.folder;
    Value manifest;
    std::string error;
    ASSERT_TRUE(kv::json::Parse(kv::test::ReadFile(folder + "/tw.korvessa.capi.json"), &manifest, &error))
        << folder << ": " << error;
    EXPECT_EQ("tw.korvessa.capi", manifest.Find("name")->Utf8());
    EXPECT_EQ("stdio", manifest.Find("type")->Utf8());
    EXPECT_EQ(hostPath, manifest.Find("path")->Utf8());
    const Value* allowed = manifest.Find(e.allowKey);
    ASSERT_NE(nullptr, allowed) << folder;
    ASSERT_EQ(1u, allowed->items.size());
    EXPECT_EQ(e.allowed, allowed->items[0].Utf8());
    // Nothing but the manifest is left in the folder (no temporary files).
    std::string listing;
    kv::test::RunCommand("ls -A '" + folder + "'", &listing);
    EXPECT_EQ("tw.korvessa.capi.json\n", listing);
  }

  // --uninstall takes each manifest back, and is content when none is left.
  for (int round = 0; round < 2; ++round)
    ASSERT_EQ(0, kv::test::RunCommand("'" + std::string(KV_NATIVE_HOST_PATH) + "' --uninstall", &out)) << out;
  for (const char* folder : {"/.config/chromium/NativeMessagingHosts", "/.config/google-chrome/NativeMessagingHosts",
                             "/.mozilla/native-messaging-hosts"})
    EXPECT_NE(0, access((home.path() + folder + "/tw.korvessa.capi.json").c_str(), F_OK)) << folder;
}

// `--profile DIR`: the manifest of a browser started with --user-data-dir,
// in that folder only (the user's own profiles untouched); `--uninstall
// --profile` takes it back; --profile with --system, or without a folder, is
// a usage error.
TEST(NativeHostInstall, ProfileFolderGetsTheChromiumManifestAlone) {
  kv::test::TempFolder home;
  kv::test::ScopedEnv useHome("HOME", home.path().c_str());
  const std::string host = "'" + std::string(KV_NATIVE_HOST_PATH) + "'";
  const std::string profile = home.path() + "/test profile";
  const std::string manifest = profile + "/NativeMessagingHosts/tw.korvessa.capi.json";
  std::string out;
  ASSERT_EQ(0, kv::test::RunCommand(host + " --install --profile '" + profile + "'", &out)) << out;
  Value parsed;
  std::string error;
  ASSERT_TRUE(kv::json::Parse(kv::test::ReadFile(manifest), &parsed, &error)) << error;
  EXPECT_EQ("chrome-extension://liellhacedcelhjakjbkggpnkjpijcnk/", parsed.Find("allowed_origins")->items.at(0).Utf8());
  kv::test::RunCommand("ls -A '" + home.path() + "'", &out);
  EXPECT_EQ("test profile\n", out);

  ASSERT_EQ(0, kv::test::RunCommand(host + " --uninstall --profile '" + profile + "'", &out)) << out;
  EXPECT_NE(0, access(manifest.c_str(), F_OK));
  for (const char* args : {" --install --profile", " --install --system --profile /tmp/x",
                           " --uninstall --profile /tmp/x --system", " --install --profile ''"})
    EXPECT_EQ(2, kv::test::RunCommand(host + args, &out)) << args;
}

}  // namespace
