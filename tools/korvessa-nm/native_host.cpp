// Judging a connection's origin once, refusing the rest, and answering each
// admitted call through the shared call checker.
#include "korvessa-nm/native_host.h"

#include "korvessa/call_answer.h"
#include "kvcommon/utf.h"

namespace korvessa {
namespace {

using kv::json::Value;

// The result code the engine gives a site that may not use it.
constexpr int32_t kSiteNotAllowed = 1502;

// The message's id, written back as given (a number or a string), else null.
std::string IdTail(const Value* request) {
  std::string tail = ", \"id\": ";
  const Value* id = request && request->kind == Value::Kind::kObject ? request->Find("id") : nullptr;
  if (id && id->kind == Value::Kind::kString)
    kv::json::AppendQuoted(id->string, &tail);
  else if (id && id->kind == Value::Kind::kNumber && id->isInteger)
    tail += std::to_string(id->integer);
  else
    tail += "null";
  return tail;
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
  const OperationSpec* op = nullptr;
  if (const Value* call = request->Find("call"))
    if (call->kind == Value::Kind::kString) op = FindOperation(kv::Utf16ToUtf8(call->string));
  return RefusedAnswer(op, code, message, idTail);
}

std::string NativeHost::AnswerMessage(const std::string& message) {
  Value request;
  std::string parseError;
  if (!kv::json::Parse(message, &request, &parseError))
    return InvalidAnswer(nullptr, "bad JSON: " + parseError, IdTail(nullptr));
  const std::string idTail = IdTail(&request);
  if (request.kind != Value::Kind::kObject) return InvalidAnswer(nullptr, "a call must be a JSON object", idTail);

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
    if (status == ReadStatus::kTooLong)
      answer = InvalidAnswer(nullptr,
                             "message of " + std::to_string(declared) + " bytes is longer than " +
                                 std::to_string(kv::native::kMaxMessageToHost),
                             IdTail(nullptr));
    else
      answer = AnswerMessage(message);

    WriteStatus written = WriteFrame(out, answer);
    if (written == WriteStatus::kTooLong) {
      // The browser would drop the connection over it: say so instead.
      Value request;
      std::string ignored;
      bool parsed = kv::json::Parse(message, &request, &ignored);
      const Value* call = parsed && request.kind == Value::Kind::kObject ? request.Find("call") : nullptr;
      // Named only when it is an operation: an unknown name may be what made
      // the answer too long.
      const OperationSpec* op =
          call && call->kind == Value::Kind::kString ? FindOperation(kv::Utf16ToUtf8(call->string)) : nullptr;
      std::string name = op ? op->method : "";
      answer = InvalidAnswer(op ? &name : nullptr,
                             "answer of " + std::to_string(answer.size()) + " bytes is longer than the " +
                                 std::to_string(kv::native::kMaxMessageToBrowser) + " a browser accepts",
                             IdTail(parsed ? &request : nullptr));
      written = WriteFrame(out, answer);
    }
    if (written != WriteStatus::kWritten) return;
  }
}

}  // namespace korvessa
