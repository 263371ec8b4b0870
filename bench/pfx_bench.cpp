// Cost of changing a PFX file's password: ChangePfxPasswd on a file holding
// a 2048-bit key and its certificate, against OpenSSL re-encrypting the same
// file in-process (PKCS12_parse, then PKCS12_create with the algorithms and
// iteration counts the stand-in writes: SHA-1/3DES for the key and the
// certificates, 2000 iterations, a SHA-1 MAC over 2000 iterations), each
// writing the new image the same careful way (temporary file, flushed,
// renamed, folder flushed). Every iteration swaps the password back and forth.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <wincrypt.h>

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench_home.h"
#include "engine/capi_engine.h"
#include "bench_pki.h"
#include "cpu_split.h"

namespace {

using kv::bench::MakeCert;
using kv::bench::Ascii;

using kv::bench::BenchHome;

const char* const kPasswords[2] = {"1234", "5678"};
// What the stand-in's PFX export uses.
constexpr int kIterations = 2000;
constexpr int kPbe = NID_pbe_WithSHA1And3_Key_TripleDES_CBC;

bool ReadFile(const std::string& path, std::vector<unsigned char>* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  bytes->clear();
  unsigned char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
  std::fclose(file);
  return !bytes->empty();
}

// Temporary file in the same folder, flushed, renamed over the old one, the
// folder flushed so the rename survives a crash: the same steps the engine
// takes, so the comparison is of the PKCS#12 work.
bool WriteAtomically(const std::string& path, const unsigned char* data, size_t size) {
  const std::string temporary = path + ".tmp";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, data, size) == static_cast<ssize_t>(size) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  const std::string folder = path.substr(0, path.find_last_of('/') + 1);
  int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ok = dir >= 0 && fsync(dir) == 0;
  if (dir >= 0) close(dir);
  return ok;
}

// A PFX with a 2048-bit key and its certificate (issued by a root that is
// not in the file), protected under kPasswords[0].
bool WritePfx(const std::string& path) {
  EVP_PKEY* rootKey = EVP_RSA_gen(2048);
  X509* root = MakeCert("Bench Root", 1, rootKey, nullptr, rootKey);
  EVP_PKEY* key = EVP_RSA_gen(2048);
  X509* cert = MakeCert("Bench Holder", 0x1234, key, root, rootKey);
  PKCS12* p12 = PKCS12_create(kPasswords[0], nullptr, key, cert, nullptr, kPbe, kPbe, kIterations, kIterations, 0);
  unsigned char* der = nullptr;
  int length = p12 ? i2d_PKCS12(p12, &der) : -1;
  bool ok = length > 0 && WriteAtomically(path, der, static_cast<size_t>(length));
  OPENSSL_free(der);
  PKCS12_free(p12);
  X509_free(cert);
  EVP_PKEY_free(key);
  X509_free(root);
  EVP_PKEY_free(rootKey);
  return ok;
}

void BM_ChangePfxPasswd(benchmark::State& state) {
  BenchHome home;
  if (!home.ok() || !WritePfx(home.folder() + "/bench.pfx")) {
    state.SkipWithError("PFX set-up failed");
    return;
  }
  CCapiEngine engine;
  int current = 0;
  kv::bench::CpuSplit split;
  for (auto _ : state) {
    LONG code = engine.ChangePfxPasswd(Ascii(home.folder()), Ascii("bench.pfx"), Ascii(kPasswords[current]),
                                       Ascii(kPasswords[1 - current]), 0);
    if (code != 0) {
      state.SkipWithError("ChangePfxPasswd failed");
      break;
    }
    current = 1 - current;
  }
  split.Report(state);
}
BENCHMARK(BM_ChangePfxPasswd)->Name("ChangePfxPasswd/Ours")->Unit(benchmark::kMillisecond);

void BM_OpenSslPkcs12Rewrite(benchmark::State& state) {
  BenchHome home;
  const std::string path = home.folder() + "/bench.pfx";
  if (!home.ok() || !WritePfx(path)) {
    state.SkipWithError("PFX set-up failed");
    return;
  }
  int current = 0;
  std::vector<unsigned char> image;
  kv::bench::CpuSplit split;
  for (auto _ : state) {
    bool ok = ReadFile(path, &image);
    const unsigned char* at = image.data();
    PKCS12* old = ok ? d2i_PKCS12(nullptr, &at, static_cast<long>(image.size())) : nullptr;
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    ok = old && PKCS12_parse(old, kPasswords[current], &key, &cert, &chain) == 1;
    PKCS12* fresh = ok ? PKCS12_create(kPasswords[1 - current], nullptr, key, cert, chain, kPbe, kPbe, kIterations,
                                       kIterations, 0)
                       : nullptr;
    unsigned char* der = nullptr;
    int length = fresh ? i2d_PKCS12(fresh, &der) : -1;
    ok = length > 0 && WriteAtomically(path, der, static_cast<size_t>(length));
    OPENSSL_free(der);
    PKCS12_free(fresh);
    sk_X509_pop_free(chain, X509_free);
    X509_free(cert);
    EVP_PKEY_free(key);
    PKCS12_free(old);
    if (!ok) {
      state.SkipWithError("OpenSSL rewrite failed");
      break;
    }
    current = 1 - current;
  }
  split.Report(state);
}
BENCHMARK(BM_OpenSslPkcs12Rewrite)->Name("ChangePfxPasswd/OpenSSL")->Unit(benchmark::kMillisecond);

}  // namespace
