// The browsers' native host: serves one connection (one page origin) over
// native messaging frames, with the same calls and answers as
// `korvessa --batch`.
//
// From the extension:  {"id": ID, "origin": ORIGIN, "call": NAME, "args": [...]}
// To the extension:    the batch answer with "id": ID appended; one longer
//                      than a frame goes in pieces (kv::native::WriteAnswer).
//
// ORIGIN is the one the browser reported for the page (the extension takes it
// from the message's sender, never from the page), PAGE the extension's key
// of the document that called (a reload is a new page). The first message's
// origin is pinned for the connection: a message carrying another origin is
// refused, so one site's calls never run in the engine another site's calls
// have used. A page's calls are judged by the allow-lists alone and never
// raise the consent dialog; the page asks the person through the extension's
// rate-limited request, and either answer then holds for the page.
//
// The extension's own requests, which no page can send:
//   {"id": ID, "origin": ORIGIN, "page": PAGE, "request": "admit"}
//       -> {"request": "admit", "admitted": B, "error": N, "message": TEXT}
//   {"id": ID, "request": "sites"}   the lists (machine, user, denied, and
//                                    the refused entries with the reason)
//   {"id": ID, "request": "forget", "list": "user"|"denied", "site": ENTRY}
#pragma once

#include <cstdint>
#include <deque>
#include <map>
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
  struct Judgement {
    bool admitted = false;
    int32_t code = 0;  // the refusal's code and message
    std::u16string message;
  };

  std::string Refusal(const kv::json::Value* request, int32_t code, const std::u16string& message,
                      const std::string& idTail);
  std::string AnswerRequest(const kv::json::Value& request, const std::string& idTail);
  Judgement JudgePage(const std::u16string& page, bool mayAsk);

  const EngineLibrary& library_;
  AdmitFunction admit_ = nullptr;        // may ask the person
  AdmitFunction admitListed_ = nullptr;  // the lists alone
  std::u16string pinned_;  // the connection's origin as first given
  bool pinnedSet_ = false;
  bool anyAdmitted_ = false;  // the library has pinned the origin too
  std::map<std::u16string, Judgement> pages_;
  std::deque<std::u16string> pageOrder_;  // oldest first, to forget the oldest
};

}  // namespace korvessa
