// SignPkcs7 with a key on a SoftHSM token against OpenSSL's CMS_sign with the
// same token key through OpenSSL's PKCS#11 engine and the same module, in
// the same run and the same message shape (SHA-1, signer certificate,
// content attached, no attributes, DER then Base64).
//
// The engine's side runs in the command-line host, since a process loads its
// modules once: each iteration is one host process signing 1 + N times less
// one signing once (library load, module start, PIN login), so the time
// reported is that of N signatures of a logged-in token session.
#include <benchmark/benchmark.h>

#define OPENSSL_SUPPRESS_DEPRECATED  // the PKCS#11 engine is an ENGINE
#include <openssl/cms.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_pki.h"
#include "openssl_cms_sign.h"

namespace {

using kv::bench::MakeCert;

constexpr char kModule[] = "/usr/lib/softhsm/libsofthsm2.so";
constexpr char kPin[] = "1234";
constexpr int kSignatures = 100;
const std::string kContent = "Buy 1000 shares of 2330 at 600, order 0000123456";

// No benchmark of this process loads the machine's own modules; the token's
// module is named only for the host processes this file starts.
[[maybe_unused]] const bool kNoMachineTokens = (setenv("KORVESSA_PKCS11_MODULES", "", 0), true);

int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// A token in a throw-away folder holding a 2048-bit key and its certificate.
struct TokenFixture {
  std::string folder;
  std::string env;  // for the host processes
  X509* cert = nullptr;
  bool ok = false;

  TokenFixture() {
    struct stat st;
    if (stat(kModule, &st) != 0) return;
    char pattern[] = "/tmp/korvessa-token-bench-XXXXXX";
    folder = mkdtemp(pattern);
    const std::string conf = folder + "/softhsm2.conf";
    mkdir((folder + "/tokens").c_str(), 0700);
    if (FILE* f = std::fopen(conf.c_str(), "w")) {
      std::fprintf(f, "directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n",
                   folder.c_str());
      std::fclose(f);
    }
    setenv("SOFTHSM2_CONF", conf.c_str(), 1);
    EVP_PKEY* rootKey = EVP_RSA_gen(2048);
    X509* root = MakeCert("Bench Root", 1, rootKey, nullptr, rootKey);
    EVP_PKEY* key = EVP_RSA_gen(2048);
    cert = MakeCert("Token Bench Signer", 0x4321, key, root, rootKey);
    FILE* k = std::fopen((folder + "/key.pem").c_str(), "w");
    PEM_write_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(k);
    FILE* c = std::fopen((folder + "/cert.der").c_str(), "wb");
    i2d_X509_fp(c, cert);
    std::fclose(c);
    X509_free(root);
    EVP_PKEY_free(rootKey);
    EVP_PKEY_free(key);
    const std::string tool = std::string("pkcs11-tool --module ") + kModule + " --login --pin " + kPin + " ";
    ok = Run("softhsm2-util --init-token --free --label 'Bench Token' --so-pin 5678 --pin " + std::string(kPin)) == 0 &&
         Run("openssl pkey -in '" + folder + "/key.pem' -outform DER -out '" + folder + "/key.der'") == 0 &&
         Run(tool + "--write-object '" + folder + "/key.der' --type privkey --id 01") == 0 &&
         Run(tool + "--write-object '" + folder + "/cert.der' --type cert --id 01") == 0;
    std::filesystem::remove(folder + "/key.pem");
    std::filesystem::remove(folder + "/key.der");
    const std::string answers = folder + "/answers.json";
    if (FILE* a = std::fopen(answers.c_str(), "w")) {
      std::fprintf(a, R"([{"dialog": 211, "set": {"342": "%s"}, "press": 1}])", kPin);
      std::fclose(a);
    }
    env = "KORVESSA_HOME='" + folder + "' KORVESSA_PKCS11_MODULES='" + kModule + "' KORVESSA_DIALOGS='" + answers + "'";
  }
  ~TokenFixture() {
    X509_free(cert);
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
  }

  // Seconds for one host process selecting the token's signer and making
  // `count` signatures; negative when any of them failed.
  double HostRun(int count) const {
    std::string input = folder + "/in" + std::to_string(count);
    if (FILE* f = std::fopen(input.c_str(), "w")) {
      std::fprintf(f, "{\"call\": \"SelectSigner\", \"args\": [\"S_CN=Token Bench Signer\", 256, 0]}\n");
      for (int i = 0; i < count; ++i)
        std::fprintf(f, "{\"call\": \"SignPkcs7\", \"args\": [\"%s\", 0]}\n", kContent.c_str());
      std::fclose(f);
    }
    const std::string command = env + " '" KV_HOST_PATH "' --batch <'" + input + "' | grep -c '\"error\": 0'";
    auto start = std::chrono::steady_clock::now();
    FILE* pipe = popen(command.c_str(), "r");
    int good = -1;
    if (pipe && std::fscanf(pipe, "%d", &good) != 1) good = -1;
    if (pipe) pclose(pipe);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return good == count + 1 ? seconds : -1;
  }
};

TokenFixture& Token() {
  static TokenFixture fixture;
  return fixture;
}

void BM_TokenSignPkcs7Ours(benchmark::State& state) {
  const TokenFixture& t = Token();
  if (!t.ok) {
    state.SkipWithError("no SoftHSM token");
    return;
  }
  for (auto _ : state) {
    double all = t.HostRun(1 + kSignatures), one = t.HostRun(1);
    if (all < 0 || one < 0) {
      state.SkipWithError("signing on the token failed");
      break;
    }
    state.SetIterationTime(all - one);
  }
  state.SetItemsProcessed(state.iterations() * kSignatures);
}
BENCHMARK(BM_TokenSignPkcs7Ours)
    ->Name("SignPkcs7Token/Ours")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The same key through OpenSSL's PKCS#11 engine: one session, logged in once.
void BM_TokenSignPkcs7OpenSsl(benchmark::State& state) {
  const TokenFixture& t = Token();
  ENGINE* engine = t.ok ? ENGINE_by_id("pkcs11") : nullptr;
  EVP_PKEY* key = nullptr;
  if (engine && ENGINE_ctrl_cmd_string(engine, "MODULE_PATH", kModule, 0) == 1 &&
      ENGINE_ctrl_cmd_string(engine, "PIN", kPin, 0) == 1 && ENGINE_init(engine) == 1) {
    key = ENGINE_load_private_key(engine, "pkcs11:token=Bench%20Token;id=%01;type=private", nullptr, nullptr);
  }
  if (!key) {
    state.SkipWithError("OpenSSL's PKCS#11 engine cannot reach the token key");
    if (engine) ENGINE_free(engine);
    return;
  }
  std::u16string wide(kContent.begin(), kContent.end());
  for (auto _ : state) {
    for (int i = 0; i < kSignatures; ++i) {
      if (!kv::bench::OpenSslCmsSignOnce(t.cert, key, EVP_sha1(), wide)) state.SkipWithError("CMS_sign failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * kSignatures);
  EVP_PKEY_free(key);
  ENGINE_finish(engine);
  ENGINE_free(engine);
}
BENCHMARK(BM_TokenSignPkcs7OpenSsl)
    ->Name("SignPkcs7Token/OpenSSL")
    ->UseRealTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
