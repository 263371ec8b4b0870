// The browsers' native host: serves one connection (one page origin) over
// native messaging frames, with the same calls and answers as
// `korvessa --batch`.
//
// From the extension:  {"id": ID, "origin": ORIGIN, "call": NAME, "args": [...]}
// To the extension:    the batch answer with "id": ID appended; one longer
//                      than a frame goes in pieces (kv::native::WriteAnswer).
//
// ORIGIN is the one the browser reported for the page (the extension takes it
// from the message's sender, never from the page). The first message's
// origin is judged (allow-list, else the user's consent) and pinned for the
// connection: a message carrying another origin is refused, so one site's
// calls never run in the engine another site's calls have used.
#pragma once

#include <cstdint>
#include <string>

#include "korvessa/library.h"
#include "kvcommon/json.h"
#include "kvcommon/native_frame.h"

namespace korvessa {

// What the library's admission entry point answers (0: admitted).
using AdmitFunction = int32_t(KV_ENGINE_CALL*)(const char16_t* origin);

class NativeHost {
 public:
  explicit NativeHost(const EngineLibrary& library);

  // Serves frames until the input ends or the browser goes away.
  void Serve(kv::native::FrameInput& in, kv::native::FrameOutput& out);

  // The answer to one message's bytes (exposed for the tests of the rules);
  // *idValue receives the message's id as JSON.
  std::string AnswerMessage(const std::string& message, std::string* idValue = nullptr);

 private:
  std::string Refusal(const kv::json::Value* request, int32_t code, const std::u16string& message,
                      const std::string& idTail);

  const EngineLibrary& library_;
  AdmitFunction admit_ = nullptr;
  std::u16string pinned_;     // the connection's origin as first given
  bool decided_ = false;      // the pinned origin has been judged
  bool admitted_ = false;
  int32_t refusalCode_ = 0;
  std::u16string refusalMessage_;
};

}  // namespace korvessa
