// The scriptable interface's operations as data: slot, dispatch id,
// method name, exported function name, parameters and result type. The
// command-line host dispatches through this table.
#pragma once

#include <cstddef>
#include <string>

namespace korvessa {

enum class ParamType { kString, kLong };
enum class ResultType { kString, kLong };

// The most parameters any operation takes.
inline constexpr size_t kMaxParams = 7;

struct ParamSpec {
  const char* name;  // null ends the list
  ParamType type;
};

struct OperationSpec {
  int slot;                // virtual-table slot of the dual interface
  int dispid;              // dispatch identifier
  const char* method;      // scriptable method name
  const char* exportName;  // exported function name
  ResultType result;
  ParamSpec params[kMaxParams];

  size_t ParamCount() const;
  // The Windows export name: "_" name "@" four times the argument count.
  std::string DecoratedName() const;
};

// All operations in interface order.
const OperationSpec* Operations();
size_t OperationCount();

// Finds an operation by its method or export name, ignoring ASCII case;
// null when there is none.
const OperationSpec* FindOperation(const std::string& name);

const char* TypeName(ParamType type);
const char* TypeName(ResultType type);

}  // namespace korvessa
