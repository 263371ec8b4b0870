// The engine library as the host sees it: loaded (module_loader.h), each
// operation looked up by its export name, called with correctly typed
// arguments, and its string result copied and freed with the library's own
// SysFreeString.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korvessa/operations.h"

// The engine's exports use the callee-pops convention on Windows (it matters
// on x86 only); elsewhere the platform's one C convention.
#if defined(_WIN32)
#define KV_ENGINE_CALL __stdcall
#else
#define KV_ENGINE_CALL
#endif

namespace korvessa {

struct Argument {
  ParamType type = ParamType::kString;
  std::u16string text;  // kString
  int32_t number = 0;   // kLong
};

struct CallResult {
  ResultType type = ResultType::kString;
  std::u16string text;  // kString
  int32_t number = 0;   // kLong
};

class EngineLibrary {
 public:
  EngineLibrary() = default;
  EngineLibrary(const EngineLibrary&) = delete;
  EngineLibrary& operator=(const EngineLibrary&) = delete;

  // Loads $KORVESSA_LIBRARY, or else the library next to the executable
  // (libkorvessa.so; korvessa.dll on Windows).
  bool Load(std::string* error);
  const std::string& path() const { return path_; }

  // The export's address, or null when this build does not have it.
  void* Find(const char* exportName) const;
  bool Available(const OperationSpec& op) const { return Find(op.exportName) != nullptr; }

  // Calls an available operation; `args` must match its parameters.
  CallResult Call(const OperationSpec& op, const std::vector<Argument>& args) const;

  // The engine's error state after a call (reading it changes nothing).
  int32_t ErrorCode() const;
  uint32_t CapiError() const;
  std::u16string ErrorMessage() const;

  // A string an export returned, copied and freed with the library's
  // SysFreeString (for the doors' own entry points).
  std::u16string TakeString(char16_t* bstr) const;

 private:
  void* handle_ = nullptr;
  std::string path_;
  void(KV_ENGINE_CALL* sysFreeString_)(char16_t*) = nullptr;
  uint32_t(KV_ENGINE_CALL* sysStringLen_)(char16_t*) = nullptr;
};

}  // namespace korvessa
