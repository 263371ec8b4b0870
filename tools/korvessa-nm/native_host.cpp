// Judging a connection's origin once, refusing the rest, and answering each
// admitted call through the shared call checker.
#include "korvessa-nm/native_host.h"

#include "korvessa-nm/answer_bound.h"
#include "korvessa/call_answer.h"
#include "kvcommon/utf.h"

namespace korvessa {
namespace {

using kv::json::Value;

// The result code the engine gives a site that may not use it.
constexpr int32_t kSiteNotAllowed = 1502;

// The message's id as JSON, written back as given (a number or a string),
// else null.
std::string IdValue(const Value* request) {
  std::string value;
  const Value* id = request && request->kind == Value::Kind::kObject ? request->Find("id") : nullptr;
  if (id && id->kind == Value::Kind::kString)
    kv::json::AppendQuoted(id->string, &value);
  else if (id && id->kind == Value::Kind::kNumber && id->isInteger)
    value = std::to_string(id->integer);
  else
    value = "null";
  return value;
}

std::string IdTail(const Value* request) { return ", \"id\": " + IdValue(request); }

// The operation a message names, when it names one.
const OperationSpec* NamedOperation(const Value& request) {
  const Value* call = request.kind == Value::Kind::kObject ? request.Find("call") : nullptr;
  return call && call->kind == Value::Kind::kString ? FindOperation(kv::Utf16ToUtf8(call->string)) : nullptr;
}

std::string TooLong(const std::string& what, uint64_t size) {
  return what + " of " + std::to_string(size) + " bytes is longer than the " +
         std::to_string(kv::native::kMaxJoinedAnswer) + " the extension takes";
}

// Whether an origin may be handed to the library at all: printable ASCII,
// no blank. The library takes a terminated string, so a NUL would let it
// judge only the text before it while the rest rode along unseen.
bool IsPlainOrigin(const std::u16string& origin) {
  if (origin.empty()) return false;
  for (char16_t c : origin)
    if (c <= 0x20 || c >= 0x7f) return false;
  return true;
}

}  // namespace

NativeHost::NativeHost(const EngineLibrary& library) : library_(library) {
  admit_ = reinterpret_cast<AdmitFunction>(library_.Find("KvAdmitWebOrigin"));
}

std::string NativeHost::Refusal(const Value* request, int32_t code, const std::u16string& message,
                                const std::string& idTail) {
  return RefusedAnswer(NamedOperation(*request), code, message, idTail);
}

std::string NativeHost::AnswerMessage(const std::string& message, std::string* idValue) {
  Value request;
  std::string parseError;
  if (idValue) *idValue = IdValue(nullptr);
  if (!kv::json::Parse(message, &request, &parseError))
    return InvalidAnswer(nullptr, "bad JSON: " + parseError, IdTail(nullptr));
  const std::string idTail = IdTail(&request);
  if (idValue) *idValue = IdValue(&request);
  if (request.kind != Value::Kind::kObject) return InvalidAnswer(nullptr, "a call must be a JSON object", idTail);

  // Before anything can ask the person (the consent, the signing
  // confirmation, a password): an answer that could not be delivered is
  // refused while nothing has been asked.
  if (const OperationSpec* op = NamedOperation(request)) {
    const Value* args = request.Find("args");
    uint64_t bound = args ? AnswerBound(op->method, *args) : 0;
    if (bound > kv::native::kMaxJoinedAnswer) {
      std::string name = op->method;
      return InvalidAnswer(&name, TooLong("an answer", bound), idTail);
    }
  }

  const Value* origin = request.Find("origin");
  if (!origin || origin->kind != Value::Kind::kString || request.Count("origin") != 1)
    return InvalidAnswer(nullptr, "a call needs the page's \"origin\"", idTail);

  if (!decided_) {
    decided_ = true;
    pinned_ = origin->string;
    if (!admit_) {
      refusalCode_ = kSiteNotAllowed;
      refusalMessage_ = u"the engine library has no web origin admission";
    } else if (!IsPlainOrigin(pinned_)) {
      refusalCode_ = kSiteNotAllowed;
      refusalMessage_ = u"an origin holds printable ASCII only";
    } else {
      admitted_ = admit_(pinned_.c_str()) == 0;
      if (!admitted_) {
        refusalCode_ = library_.ErrorCode();
        refusalMessage_ = library_.ErrorMessage();
      }
    }
  }
  if (origin->string != pinned_) {
    // Never run: this connection belongs to its first origin. Once that one
    // is admitted the library pins it too and refuses any other, giving the
    // engine's own refusal; before, the first refusal stands for both.
    if (admitted_ && IsPlainOrigin(origin->string) && admit_(origin->string.c_str()) != 0)
      return Refusal(&request, library_.ErrorCode(), library_.ErrorMessage(), idTail);
    if (admitted_) return Refusal(&request, kSiteNotAllowed, u"", idTail);
    return Refusal(&request, refusalCode_, refusalMessage_, idTail);
  }
  if (!admitted_) return Refusal(&request, refusalCode_, refusalMessage_, idTail);

  AnswerTail tail;
  tail.invalid = idTail;
  tail.answered = idTail;
  return AnswerCall(library_, request, tail);
}

void NativeHost::Serve(kv::native::FrameInput& in, kv::native::FrameOutput& out) {
  using kv::native::ReadStatus;
  using kv::native::WriteStatus;
  std::string message;
  for (;;) {
    uint32_t declared = 0;
    ReadStatus status = ReadFrame(in, kv::native::kMaxMessageToHost, &message, &declared);
    if (status == ReadStatus::kEnd || status == ReadStatus::kTruncated) return;
    std::string answer;
    std::string idValue = IdValue(nullptr);
    if (status == ReadStatus::kTooLong)
      answer = InvalidAnswer(nullptr,
                             "message of " + std::to_string(declared) + " bytes is longer than " +
                                 std::to_string(kv::native::kMaxMessageToHost),
                             IdTail(nullptr));
    else
      answer = AnswerMessage(message, &idValue);

    if (answer.size() > kv::native::kMaxJoinedAnswer) {
      // The extension would drop it: say so instead.
      Value request;
      std::string ignored;
      bool parsed = kv::json::Parse(message, &request, &ignored);
      // Named only when it is an operation: an unknown name may be what made
      // the answer too long.
      const OperationSpec* op = parsed ? NamedOperation(request) : nullptr;
      std::string name = op ? op->method : "";
      answer = InvalidAnswer(op ? &name : nullptr, TooLong("answer", answer.size()), IdTail(parsed ? &request : nullptr));
    }
    if (WriteAnswer(out, answer, idValue) != WriteStatus::kWritten) return;
  }
}

}  // namespace korvessa
