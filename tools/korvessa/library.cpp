// Loading the engine library and calling its exports with the argument
// types each operation declares.
#include "korvessa/library.h"

#include "korvessa/module_loader.h"

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
    return reinterpret_cast<R(KV_ENGINE_CALL*)(Done...)>(fn)(done...);
  }
};

template <typename F>
F Lookup(void* handle, const char* name) {
  return reinterpret_cast<F>(module::Symbol(handle, name));
}

}  // namespace

bool EngineLibrary::Load(std::string* error) {
  path_ = module::LibraryPath();
  handle_ = module::Open(path_, error);
  if (!handle_) return false;
  void* strings = module::StringCalls(handle_);
  sysFreeString_ = Lookup<void(KV_ENGINE_CALL*)(char16_t*)>(strings, "SysFreeString");
  sysStringLen_ = Lookup<uint32_t(KV_ENGINE_CALL*)(char16_t*)>(strings, "SysStringLen");
  if (!sysFreeString_ || !sysStringLen_) {
    *error = "the engine library " + path_ + " does not export SysFreeString and SysStringLen";
    return false;
  }
  return true;
}

void* EngineLibrary::Find(const char* exportName) const {
  return module::Symbol(handle_, exportName);
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
  auto fn = reinterpret_cast<int32_t(KV_ENGINE_CALL*)()>(Find("GetErrorCode"));
  return fn ? fn() : 0;
}

uint32_t EngineLibrary::CapiError() const {
  auto fn = reinterpret_cast<int32_t(KV_ENGINE_CALL*)()>(Find("GetCapiErrorCode"));
  return fn ? static_cast<uint32_t>(fn()) : 0;
}

std::u16string EngineLibrary::ErrorMessage() const {
  auto fn = reinterpret_cast<char16_t*(KV_ENGINE_CALL*)()>(Find("GetErrorMsg"));
  return fn ? TakeString(fn()) : std::u16string();
}

}  // namespace korvessa
