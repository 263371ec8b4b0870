// Pinning a connection's origin, judging each of its pages once, refusing
// the rest, answering each admitted call through the shared call checker,
// and the extension's requests about the lists.
#include "korvessa-nm/native_host.h"

#include "korvessa-nm/answer_bound.h"
#include "korvessa/call_answer.h"
#include "kvcommon/utf.h"

namespace korvessa {
namespace {

using kv::json::Value;

// The result code the engine gives a site that may not use it.
constexpr int32_t kSiteNotAllowed = 1502;
// Pages whose answer a connection keeps: a site's tab reloaded all day must
// not grow the host without end. The oldest page forgotten is asked again.
constexpr size_t kPagesKept = 256;

using ListsFunction = char16_t*(KV_ENGINE_CALL*)();
using ForgetFunction = int32_t(KV_ENGINE_CALL*)(const char16_t* list, const char16_t* entry);

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
  admitListed_ = reinterpret_cast<AdmitFunction>(library_.Find("KvAdmitListedWebOrigin"));
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
  const Value* requestName = request.Find("request");
  const bool admitRequest =
      requestName && requestName->kind == Value::Kind::kString && requestName->string == u"admit";
  if (requestName && !admitRequest) return AnswerRequest(request, idTail);

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

  if (!pinnedSet_) {
    pinnedSet_ = true;
    pinned_ = origin->string;
  }
  if (origin->string != pinned_) {
    // Never run: this connection belongs to its first origin. Once that one
    // is admitted the library pins it too and refuses any other, giving the
    // engine's own refusal.
    if (anyAdmitted_ && IsPlainOrigin(origin->string) && admitListed_ && admitListed_(origin->string.c_str()) != 0)
      return Refusal(&request, library_.ErrorCode(), library_.ErrorMessage(), idTail);
    return Refusal(&request, kSiteNotAllowed, u"", idTail);
  }
  const Value* page = request.Find("page");
  const Judgement judged =
      JudgePage(page && page->kind == Value::Kind::kString ? page->string : u"", admitRequest);
  if (admitRequest) {
    std::string out = "{\"request\": \"admit\", \"admitted\": ";
    out += judged.admitted ? "true" : "false";
    out += ", \"error\": " + std::to_string(judged.admitted ? 0 : judged.code) + ", \"message\": ";
    kv::json::AppendQuoted(judged.admitted ? std::u16string() : judged.message, &out);
    return out + idTail + "}";
  }
  if (!judged.admitted) return Refusal(&request, judged.code, judged.message, idTail);

  AnswerTail tail;
  tail.invalid = idTail;
  tail.answered = idTail;
  return AnswerCall(library_, request, tail);
}

NativeHost::Judgement NativeHost::JudgePage(const std::u16string& page, bool mayAsk) {
  auto known = pages_.find(page);
  if (known != pages_.end()) return known->second;
  Judgement judged;
  judged.code = kSiteNotAllowed;
  AdmitFunction admit = mayAsk ? admit_ : admitListed_;
  if (!admit) {
    judged.message = u"the engine library has no web origin admission";
  } else if (!IsPlainOrigin(pinned_)) {
    judged.message = u"an origin holds printable ASCII only";
  } else {
    judged.admitted = admit(pinned_.c_str()) == 0;
    if (judged.admitted) {
      anyAdmitted_ = true;
    } else {
      judged.code = library_.ErrorCode();
      judged.message = library_.ErrorMessage();
    }
  }
  // A page the lists alone refused may still ask the person; every other
  // answer holds for the page.
  if (!mayAsk && !judged.admitted) return judged;
  if (pageOrder_.size() >= kPagesKept) {
    pages_.erase(pageOrder_.front());
    pageOrder_.pop_front();
  }
  pageOrder_.push_back(page);
  pages_[page] = judged;
  return judged;
}

std::string NativeHost::AnswerRequest(const Value& request, const std::string& idTail) {
  const Value* what = request.Find("request");
  const std::u16string name = what->kind == Value::Kind::kString ? what->string : u"";
  if (name == u"sites") {
    auto lists = reinterpret_cast<ListsFunction>(library_.Find("KvWebSiteLists"));
    if (!lists) return InvalidAnswer(nullptr, "the engine library cannot list the sites", idTail);
    // Lines "LIST\tENTRY" into {"userSites": B, "machine": [...], "user": [...], "denied": [...]}.
    const std::string text = kv::Utf16ToUtf8(library_.TakeString(lists()));
    std::map<std::string, std::string> arrays{{"machine", ""}, {"user", ""}, {"denied", ""}, {"refused", ""}};
    bool userSites = false;
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(at, end - at);
      at = end + 1;
      const size_t tab = line.find('\t');
      if (tab == std::string::npos) continue;
      const std::string list = line.substr(0, tab), entry = line.substr(tab + 1);
      if (list == "userSites") {
        userSites = entry == "1";
      } else if (list == "refused") {
        // {"site": ENTRY, "why": TEXT}
        const size_t why = entry.find('\t');
        std::string& items = arrays[list];
        if (!items.empty()) items += ", ";
        items += "{\"site\": ";
        kv::json::AppendQuoted(entry.substr(0, why), &items);
        items += ", \"why\": ";
        kv::json::AppendQuoted(why == std::string::npos ? std::string() : entry.substr(why + 1), &items);
        items += "}";
      } else if (arrays.count(list)) {
        std::string& items = arrays[list];
        if (!items.empty()) items += ", ";
        kv::json::AppendQuoted(entry, &items);
      }
    }
    std::string out = "{\"request\": \"sites\", \"userSites\": ";
    out += userSites ? "true" : "false";
    for (const auto& [list, items] : arrays) out += ", \"" + list + "\": [" + items + "]";
    return out + idTail + "}";
  }
  if (name == u"forget") {
    auto forget = reinterpret_cast<ForgetFunction>(library_.Find("KvForgetWebSite"));
    const Value* list = request.Find("list");
    const Value* site = request.Find("site");
    if (!forget) return InvalidAnswer(nullptr, "the engine library cannot change the lists", idTail);
    if (!list || list->kind != Value::Kind::kString || !site || site->kind != Value::Kind::kString ||
        !IsPlainOrigin(site->string))
      return InvalidAnswer(nullptr, "\"forget\" needs a \"list\" and a \"site\"", idTail);
    const int32_t removed = forget(list->string.c_str(), site->string.c_str());
    if (removed < 0) return InvalidAnswer(nullptr, "the list cannot be changed", idTail);
    return "{\"request\": \"forget\", \"removed\": " + std::to_string(removed) + idTail + "}";
  }
  return InvalidAnswer(nullptr, "unknown request", idTail);
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
