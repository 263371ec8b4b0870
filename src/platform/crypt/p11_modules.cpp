// Loading PKCS#11 modules: p11-kit is opened at run time, so the library
// runs (with no token) where p11-kit is not installed.
#include "crypt/p11_modules.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>

namespace kv::platform::crypt {
namespace {

// p11-kit's entry point (p11-kit/p11-kit.h), declared here so that
// the header is not needed beyond pkcs11.h.
using LoadAndInitialize = CK_FUNCTION_LIST** (*)(int flags);

void LoadThroughP11Kit(std::vector<CK_FUNCTION_LIST*>* modules) {
  void* library = dlopen("libp11-kit.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!library) return;
  auto load = reinterpret_cast<LoadAndInitialize>(dlsym(library, "p11_kit_modules_load_and_initialize"));
  // The list and the library stay for the process: modules hold sessions
  // until it ends.
  static CK_FUNCTION_LIST** list = nullptr;
  list = load ? load(0) : nullptr;
  for (CK_FUNCTION_LIST** p = list; p && *p; ++p) modules->push_back(*p);
}

void LoadListed(const std::string& paths, std::vector<CK_FUNCTION_LIST*>* modules) {
  std::stringstream in(paths);
  std::string path;
  while (std::getline(in, path, ':')) {
    if (path.empty()) continue;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) continue;
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    CK_FUNCTION_LIST* functions = nullptr;
    if (!getList || getList(&functions) != CKR_OK || !functions) continue;
    // Our own sessions are used from several threads: the module must lock.
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    CK_RV rv = functions->C_Initialize(&args);
    if (rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) modules->push_back(functions);
  }
}

}  // namespace

const std::vector<CK_FUNCTION_LIST*>& Pkcs11Modules() {
  static std::once_flag once;
  static auto* modules = new std::vector<CK_FUNCTION_LIST*>();  // outlives every session
  std::call_once(once, [] {
    if (const char* listed = std::getenv("KORVESSA_PKCS11_MODULES")) {
      LoadListed(listed, modules);
    } else {
      LoadThroughP11Kit(modules);
    }
  });
  return *modules;
}

}  // namespace kv::platform::crypt
