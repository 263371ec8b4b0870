// korvessa: the command-line host of the engine library. One call per run
// (`korvessa OPERATION [ARG ...]`), a stream of JSON calls in one engine
// (`korvessa --batch`), or the list of operations (`korvessa --help`).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "korvessa/call_answer.h"
#include "korvessa/library.h"
#include "korvessa/operations.h"
#include "kvcommon/json.h"
#include "kvcommon/utf.h"

namespace korvessa {
namespace {

using kv::json::Value;
using kv::Utf16ToUtf8;
using kv::Utf8ToUtf16;

constexpr int kExitOk = 0;
constexpr int kExitEngineError = 1;
constexpr int kExitUsage = 2;

// Longest batch line kept; longer lines are skipped and reported.
constexpr size_t kMaxLineBytes = 64u << 20;

void PrintUsage(FILE* to) {
  std::fputs(
      "usage: korvessa OPERATION [ARG ...]   call one operation and print its result\n"
      "       korvessa --batch               run JSON lines {\"call\": NAME, \"args\": [...]} from stdin\n"
      "       korvessa --help                list the operations and whether this build has them\n",
      to);
}

int ShowHelp() {
  PrintUsage(stdout);
  EngineLibrary library;
  std::string loadError;
  bool loaded = library.Load(&loadError);
  std::printf("\nOperations (slot, dispatch id, signature, availability):\n");
  for (size_t i = 0; i < OperationCount(); ++i) {
    const OperationSpec& op = Operations()[i];
    bool available = loaded && library.Available(op);
    std::string name = Signature(op);
    if (std::string(op.method) != op.exportName) name += "  [export " + std::string(op.exportName) + "]";
    std::printf("  %2d %3d  %-70s %s\n", op.slot, op.dispid, name.c_str(),
                available ? "available" : "not available in this build");
  }
  if (!loaded) std::printf("\n%s\n", loadError.c_str());
  std::printf(
      "\nString arguments are UTF-8; integer arguments decimal or 0x hexadecimal.\n"
      "SignPkcs1/SignPkcs7 digest flags: 0x10000 SHA-256, 0x20000 SHA-384, 0x40000 SHA-512 (of several,\n"
      "the longest; each outranks 0x1000 MD5 and SignPkcs1's 0x2000 SHA-1 of MD5). The machine value\n"
      "HKLM\\SOFTWARE\\Korvessa\\CAPI DefaultDigestSha256 (REG_DWORD 1) makes SHA-256 the digest of\n"
      "signatures that name none and of CreatePKCS10/CreatePKCS10Pair requests.\n"
      "Environment: KORVESSA_HOME, KORVESSA_CODEPAGE, KORVESSA_PROTECTED_MODE, KORVESSA_DIALOGS,\n"
      "KORVESSA_DIALOG_LOG, KORVESSA_LIBRARY (the engine library to load).\n");
  return kExitOk;
}

// A 32-bit argument: decimal (-2147483648 to 4294967295) or 0x hexadecimal
// up to 0xFFFFFFFF; values above 0x7FFFFFFF keep their bits (flags).
bool ParseLong(const std::string& text, int32_t* out) {
  if (text.empty()) return false;
  size_t i = 0;
  bool negative = false;
  uint64_t value = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    i = 2;
    if (text.size() - i > 8) {
      // Allow leading zeros beyond eight digits.
      while (i < text.size() - 8 && text[i] == '0') ++i;
      if (text.size() - i > 8) return false;
    }
    for (; i < text.size(); ++i) {
      char c = text[i];
      int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      value = (value << 4) | static_cast<unsigned>(d);
    }
    *out = static_cast<int32_t>(static_cast<uint32_t>(value));
    return true;
  }
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i >= text.size()) return false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 0xFFFFFFFFull) return false;
  }
  if (negative) {
    if (value > 0x80000000ull) return false;
    *out = static_cast<int32_t>(-static_cast<int64_t>(value));
  } else {
    *out = static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  return true;
}

// --- one call -------------------------------------------------------------

int RunOne(const std::string& name, int argc, char** argv) {
  const OperationSpec* op = FindOperation(name);
  if (!op) {
    std::fprintf(stderr, "korvessa: unknown operation '%s' (see korvessa --help)\n", name.c_str());
    return kExitUsage;
  }
  size_t expected = op->ParamCount();
  if (static_cast<size_t>(argc) != expected) {
    std::fprintf(stderr, "korvessa: %s takes %zu argument%s, %d given: %s\n", op->method, expected,
                 expected == 1 ? "" : "s", argc, Signature(*op).c_str());
    return kExitUsage;
  }
  std::vector<Argument> args(expected);
  for (size_t i = 0; i < expected; ++i) {
    args[i].type = op->params[i].type;
    std::string text = argv[i];
    if (args[i].type == ParamType::kString) {
      if (!Utf8ToUtf16(text, &args[i].text)) {
        std::fprintf(stderr, "korvessa: argument %zu (%s) is not valid UTF-8\n", i + 1, op->params[i].name);
        return kExitUsage;
      }
    } else if (!ParseLong(text, &args[i].number)) {
      std::fprintf(stderr, "korvessa: argument %zu (%s) must be a 32-bit integer (decimal or 0x hex), not '%s'\n",
                   i + 1, op->params[i].name, text.c_str());
      return kExitUsage;
    }
  }

  EngineLibrary library;
  std::string loadError;
  if (!library.Load(&loadError)) {
    std::fprintf(stderr, "korvessa: %s\n", loadError.c_str());
    return kExitUsage;
  }
  if (!library.Available(*op)) {
    std::fprintf(stderr, "korvessa: %s is not available in this build\n", op->method);
    return kExitUsage;
  }

  CallResult result = library.Call(*op, args);
  std::string out =
      result.type == ResultType::kString ? Utf16ToUtf8(result.text) : std::to_string(result.number);
  out += "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);

  if (library.ErrorCode() != 0) {
    std::string message = Utf16ToUtf8(library.ErrorMessage()) + "\n";
    std::fwrite(message.data(), 1, message.size(), stderr);
    return kExitEngineError;
  }
  return kExitOk;
}

// --- batch ----------------------------------------------------------------

// Reads one line without its end; false at the end of input. A line longer
// than kMaxLineBytes is consumed whole and flagged.
bool ReadLine(FILE* in, std::string* line, bool* tooLong) {
  line->clear();
  *tooLong = false;
  int c;
  bool any = false;
  while ((c = std::getc(in)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line->size() < kMaxLineBytes)
      line->push_back(static_cast<char>(c));
    else
      *tooLong = true;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

bool IsBlank(const std::string& line) {
  for (char c : line)
    if (c != ' ' && c != '\t') return false;
  return true;
}

std::string InvalidLine(size_t lineNumber, const std::string& why) {
  return InvalidAnswer(nullptr, why, ", \"line\": " + std::to_string(lineNumber));
}

std::string RunBatchLine(const EngineLibrary& library, const std::string& line, size_t lineNumber) {
  Value request;
  std::string parseError;
  if (!kv::json::Parse(line, &request, &parseError)) return InvalidLine(lineNumber, "bad JSON: " + parseError);
  AnswerTail tail;
  tail.invalid = ", \"line\": " + std::to_string(lineNumber);
  return AnswerCall(library, request, tail);
}

int RunBatch() {
  EngineLibrary library;
  std::string loadError;
  if (!library.Load(&loadError)) {
    std::fprintf(stderr, "korvessa: %s\n", loadError.c_str());
    return kExitUsage;
  }
  std::string line;
  bool tooLong = false;
  size_t lineNumber = 0;
  while (ReadLine(stdin, &line, &tooLong)) {
    ++lineNumber;
    std::string out;
    if (tooLong)
      out = InvalidLine(lineNumber, "line longer than " + std::to_string(kMaxLineBytes) + " bytes");
    else if (IsBlank(line))
      continue;
    else
      out = RunBatchLine(library, line, lineNumber);
    out += "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
  }
  return kExitOk;
}

}  // namespace
}  // namespace korvessa

int main(int argc, char** argv) {
  using namespace korvessa;
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  std::string first = argv[1];
  if (first == "--help" || first == "-h") return ShowHelp();
  if (first == "--batch") {
    if (argc != 2) {
      std::fprintf(stderr, "korvessa: --batch takes no arguments; the calls come on standard input\n");
      return kExitUsage;
    }
    return RunBatch();
  }
  if (!first.empty() && first[0] == '-') {
    std::fprintf(stderr, "korvessa: unknown option '%s'\n", first.c_str());
    PrintUsage(stderr);
    return kExitUsage;
  }
  return RunOne(first, argc - 2, argv + 2);
}
