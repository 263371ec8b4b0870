// The dispatch table of the scriptable interface, expanded from the engine's
// operation table (a header of macros only: the host does not link the
// engine). Every operation is listed, built or not; whether this build has
// one is the library's export, looked up when it is called.
#include "korvessa/operations.h"

#include <iterator>

namespace korvessa {

namespace {

#define KV_SPEC_TYPE_BSTR ParamType::kString
#define KV_SPEC_TYPE_LONG ParamType::kLong
#define KV_SPEC_PARAM(type, name) {#name, KV_CAT(KV_SPEC_TYPE_, type)}
#define KV_SPEC_RESULT_BSTR ResultType::kString
#define KV_SPEC_RESULT_LONG ResultType::kLong

const OperationSpec kOperations[] = {
#define KV_OPERATION(slot, dispid, result, name, exportName, params, policy) \
  {slot, dispid, #name, #exportName, KV_CAT(KV_SPEC_RESULT_, result), {KV_PARAM_LIST(KV_SPEC_PARAM, params)}},
#include "engine/operation_table.h"
};

bool EqualsIgnoringAsciiCase(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] != '\0'; ++i) {
    if (i >= b.size()) return false;
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == b.size();
}

}  // namespace

size_t OperationSpec::ParamCount() const {
  size_t n = 0;
  while (n < kMaxParams && params[n].name) ++n;
  return n;
}

std::string OperationSpec::DecoratedName() const {
  return "_" + std::string(exportName) + "@" + std::to_string(4 * ParamCount());
}

const OperationSpec* Operations() { return kOperations; }
size_t OperationCount() { return std::size(kOperations); }

const OperationSpec* FindOperation(const std::string& name) {
  for (const OperationSpec& op : kOperations)
    if (EqualsIgnoringAsciiCase(op.method, name) || EqualsIgnoringAsciiCase(op.exportName, name)) return &op;
  return nullptr;
}

const char* TypeName(ParamType type) { return type == ParamType::kString ? "BSTR" : "LONG"; }
const char* TypeName(ResultType type) { return type == ResultType::kString ? "BSTR" : "LONG"; }

}  // namespace korvessa
