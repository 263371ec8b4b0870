// Checking a JSON call's operation and arguments, calling the library, and
// writing the answer.
#include "korvessa/call_answer.h"

#include <vector>

#include "kvcommon/utf.h"

namespace korvessa {
namespace {

using kv::json::Value;

bool IntegerFitsArgument(int64_t v) { return v >= INT32_MIN && v <= static_cast<int64_t>(UINT32_MAX); }

std::string Answer(const std::string& method, const CallResult& result, int32_t error, uint32_t capiError,
                   const std::u16string& message, const std::string& tail) {
  std::string out = "{\"call\": ";
  kv::json::AppendQuoted(method, &out);
  out += ", \"result\": ";
  if (result.type == ResultType::kString)
    kv::json::AppendQuoted(result.text, &out);
  else
    out += std::to_string(result.number);
  out += ", \"error\": " + std::to_string(error);
  out += ", \"capiError\": " + std::to_string(capiError);
  out += ", \"message\": ";
  kv::json::AppendQuoted(message, &out);
  out += tail;
  out += "}";
  return out;
}

}  // namespace

std::string Signature(const OperationSpec& op) {
  std::string text = op.method;
  text += "(";
  for (size_t i = 0; i < op.ParamCount(); ++i) {
    if (i) text += ", ";
    text += TypeName(op.params[i].type);
    text += " ";
    text += op.params[i].name;
  }
  text += ") -> ";
  text += TypeName(op.result);
  return text;
}

std::string InvalidAnswer(const std::string* call, const std::string& why, const std::string& tail) {
  std::string out = "{";
  if (call) {
    out += "\"call\": ";
    kv::json::AppendQuoted(*call, &out);
    out += ", ";
  }
  out += "\"invalid\": ";
  kv::json::AppendQuoted(why, &out);
  out += tail;
  out += "}";
  return out;
}

std::string RefusedAnswer(const OperationSpec* op, int32_t error, const std::u16string& message,
                          const std::string& tail) {
  CallResult empty;
  empty.type = op ? op->result : ResultType::kString;
  return Answer(op ? op->method : "", empty, error, 0, message, tail);
}

std::string AnswerCall(const EngineLibrary& library, const Value& request, const AnswerTail& tail) {
  if (request.kind != Value::Kind::kObject) return InvalidAnswer(nullptr, "a call must be a JSON object", tail.invalid);
  if (request.Count("call") != 1 || request.Count("args") > 1)
    return InvalidAnswer(nullptr, "a call needs exactly one \"call\" and at most one \"args\"", tail.invalid);

  const Value* callValue = request.Find("call");
  if (callValue->kind != Value::Kind::kString) return InvalidAnswer(nullptr, "\"call\" must be a string", tail.invalid);
  std::string name = kv::Utf16ToUtf8(callValue->string);
  const OperationSpec* op = FindOperation(name);
  if (!op) return InvalidAnswer(&name, "unknown operation", tail.invalid);
  std::string method = op->method;

  static const Value kNoArgs = [] {
    Value v;
    v.kind = Value::Kind::kArray;
    return v;
  }();
  const Value* argsValue = request.Find("args");
  if (!argsValue) argsValue = &kNoArgs;
  if (argsValue->kind != Value::Kind::kArray) return InvalidAnswer(&method, "\"args\" must be an array", tail.invalid);

  size_t expected = op->ParamCount();
  if (argsValue->items.size() != expected)
    return InvalidAnswer(&method,
                         "takes " + std::to_string(expected) + " argument" + (expected == 1 ? "" : "s") + ", " +
                             std::to_string(argsValue->items.size()) + " given: " + Signature(*op),
                         tail.invalid);

  std::vector<Argument> args(expected);
  for (size_t i = 0; i < expected; ++i) {
    const Value& given = argsValue->items[i];
    const std::string which = "argument " + std::to_string(i + 1) + " (" + op->params[i].name + ")";
    args[i].type = op->params[i].type;
    if (args[i].type == ParamType::kString) {
      if (given.kind != Value::Kind::kString) return InvalidAnswer(&method, which + " must be a string", tail.invalid);
      // The exports take zero-terminated strings: a NUL would silently cut
      // the text short.
      if (given.string.find(u'\0') != std::u16string::npos)
        return InvalidAnswer(&method, which + " contains a NUL character", tail.invalid);
      args[i].text = given.string;
    } else {
      if (given.kind != Value::Kind::kNumber || !given.isInteger || !IntegerFitsArgument(given.integer))
        return InvalidAnswer(&method, which + " must be an integer from -2147483648 to 4294967295", tail.invalid);
      args[i].number = static_cast<int32_t>(static_cast<uint32_t>(given.integer & 0xFFFFFFFF));
    }
  }

  if (!library.Available(*op)) return InvalidAnswer(&method, "not available in this build", tail.invalid);

  CallResult result = library.Call(*op, args);
  return Answer(method, result, library.ErrorCode(), library.CapiError(), library.ErrorMessage(), tail.answered);
}

}  // namespace korvessa
