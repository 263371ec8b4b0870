// Loading the engine library and calling its exports with the argument
// types each operation declares.
#include "korvessa/library.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace korvessa {

namespace {

using RawFunction = void (*)();

// Builds the typed call one argument at a time, so every export is called
// through a pointer of its exact type (strings as const char16_t*, integers
// as int32_t) rather than a guessed common signature.
template <typename R, typename... Done>
struct TypedCall {
  static R Run(RawFunction fn, const Argument* args, size_t left, Done... done) {
    if constexpr (sizeof...(Done) < kMaxParams) {
      if (left > 0) {
        if (args->type == ParamType::kString)
          return TypedCall<R, Done..., const char16_t*>::Run(fn, args + 1, left - 1, done..., args->text.c_str());
        return TypedCall<R, Done..., int32_t>::Run(fn, args + 1, left - 1, done..., args->number);
      }
    }
    return reinterpret_cast<R (*)(Done...)>(fn)(done...);
  }
};

std::string ExecutableFolder() {
  char buffer[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

template <typename F>
F Lookup(void* handle, const char* name) {
  return reinterpret_cast<F>(dlsym(handle, name));
}

}  // namespace

bool EngineLibrary::Load(std::string* error) {
  const char* configured = getenv("KORVESSA_LIBRARY");
  path_ = (configured && *configured) ? configured : ExecutableFolder() + "/libkorvessa.so";
  handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = dlerror();
    *error = "cannot load the engine library " + path_ + ": " + (why ? why : "unknown reason");
    return false;
  }
  sysFreeString_ = Lookup<void (*)(char16_t*)>(handle_, "SysFreeString");
  sysStringLen_ = Lookup<uint32_t (*)(char16_t*)>(handle_, "SysStringLen");
  if (!sysFreeString_ || !sysStringLen_) {
    *error = "the engine library " + path_ + " does not export SysFreeString and SysStringLen";
    return false;
  }
  return true;
}

void* EngineLibrary::Find(const char* exportName) const {
  return handle_ ? dlsym(handle_, exportName) : nullptr;
}

std::u16string EngineLibrary::TakeString(char16_t* bstr) const {
  if (!bstr) return std::u16string();
  std::u16string text(bstr, sysStringLen_(bstr));
  sysFreeString_(bstr);
  return text;
}

CallResult EngineLibrary::Call(const OperationSpec& op, const std::vector<Argument>& args) const {
  CallResult result;
  result.type = op.result;
  auto fn = reinterpret_cast<RawFunction>(Find(op.exportName));
  if (!fn) return result;
  if (op.result == ResultType::kString)
    result.text = TakeString(TypedCall<char16_t*>::Run(fn, args.data(), args.size()));
  else
    result.number = TypedCall<int32_t>::Run(fn, args.data(), args.size());
  return result;
}

int32_t EngineLibrary::ErrorCode() const {
  auto fn = reinterpret_cast<int32_t (*)()>(Find("GetErrorCode"));
  return fn ? fn() : 0;
}

uint32_t EngineLibrary::CapiError() const {
  auto fn = reinterpret_cast<int32_t (*)()>(Find("GetCapiErrorCode"));
  return fn ? static_cast<uint32_t>(fn()) : 0;
}

std::u16string EngineLibrary::ErrorMessage() const {
  auto fn = reinterpret_cast<char16_t* (*)()>(Find("GetErrorMsg"));
  return fn ? TakeString(fn()) : std::u16string();
}

}  // namespace korvessa
