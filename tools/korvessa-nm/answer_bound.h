// How large a call's answer can grow, judged from its arguments before the
// call is made: an answer beyond what the extension can join must be refused
// before the engine shows a dialog for it (the signing confirmation, a PFX
// password), never after the person has said yes.
#pragma once

#include <cstdint>
#include <string>

#include "kvcommon/json.h"

namespace korvessa {

// The most bytes the answer to `method` with `args` (the call's JSON array)
// can take, for operations whose result grows with a text argument and is
// larger than it (signatures that carry the content, encryptions); 0 for the
// others, whose answers are checked once made.
uint64_t AnswerBound(const std::string& method, const kv::json::Value& args);

}  // namespace korvessa
