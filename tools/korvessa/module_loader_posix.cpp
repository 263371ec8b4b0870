// The engine library on Linux: libkorvessa.so beside the program, dlopen.
#include "korvessa/module_loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace korvessa::module {
namespace {

std::string ExecutableFolder() {
  char buffer[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

std::string LibraryPath() {
  const char* configured = getenv("KORVESSA_LIBRARY");
  return (configured && *configured) ? configured : ExecutableFolder() + "/libkorvessa.so";
}

void* Open(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    *error = "cannot load the engine library " + path + ": " + (why ? why : "unknown reason");
  }
  return handle;
}

void* Symbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

// The library exports its own string calls, so hosts free with them.
void* StringCalls(void* library) { return library; }

}  // namespace korvessa::module
