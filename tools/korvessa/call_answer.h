// One JSON call against the engine library and its JSON answer: the
// argument checks and conversion and the answer's shape, shared by the
// command-line host's batch mode and the browsers' native host.
//
// A call:    {"call": NAME, "args": [...]}   (other members are ignored)
// An answer: {"call": NAME, "result": R, "error": N, "capiError": N, "message": TEXT}
// A call that cannot be made: {"call": NAME, "invalid": WHY} (no "call" when
// the name is missing or unknown). Each host appends members of its own.
#pragma once

#include <cstdint>
#include <string>

#include "korvessa/library.h"
#include "korvessa/operations.h"
#include "kvcommon/json.h"

namespace korvessa {

// Members a host appends (", \"line\": 3"): to answers of calls that could
// not be made, and to answers of calls that ran.
struct AnswerTail {
  std::string invalid;
  std::string answered;
};

// "Name(BSTR a, LONG b) -> BSTR".
std::string Signature(const OperationSpec& op);

// Checks and runs the call in `request` and returns its answer.
std::string AnswerCall(const EngineLibrary& library, const kv::json::Value& request, const AnswerTail& tail);

// An answer for a call that could not be made.
std::string InvalidAnswer(const std::string* call, const std::string& why, const std::string& tail);

// An answer in the shape of one that ran, for a call the host refused to
// make (the operation's empty result with the given error).
std::string RefusedAnswer(const OperationSpec* op, int32_t error, const std::u16string& message,
                          const std::string& tail);

}  // namespace korvessa
