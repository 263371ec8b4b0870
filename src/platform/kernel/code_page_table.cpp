// The per-character tables behind MultiByteToWideChar and
// WideCharToMultiByte for stateless code pages. Entries are filled from
// iconv on first use, under a lock, and read without one afterwards.
#include "kernel/code_page_table.h"

#include <iconv.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kv::platform {
namespace {

// An entry: bit 31 set once known; bits 24-25 the count of UTF-16 units or
// code-page bytes (0: no such character); the first in bits 0-15, the
// second in bits 32-47.
constexpr uint64_t kKnown = 1ull << 31;

uint64_t Pack(int count, uint16_t first, uint16_t second) {
  return kKnown | (static_cast<uint64_t>(count) << 24) | first | (static_cast<uint64_t>(second) << 32);
}
int CountOf(uint64_t e) { return static_cast<int>((e >> 24) & 3); }

}  // namespace

namespace {

// Set when the registry below is destroyed (the module unloads or the
// process exits); plain data, so it is still readable by conversions that
// run in later static destructors: those go to iconv.
bool g_registryGone = false;

struct Registry {
  std::mutex lock;
  std::vector<std::unique_ptr<CodePageTable>> tables;
  ~Registry() { g_registryGone = true; }
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

std::string IconvCodePageName(UINT codePage) {
  switch (codePage) {
    case CP_UTF8: return "UTF-8";
    case CP_UTF7: return "UTF-7";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    case 932:
    case 936:
    case 949:
    case 950:
    case 437:
    case 850:
    case 874:
      return "CP" + std::to_string(codePage);
    default:
      if (codePage >= 1250 && codePage <= 1258) return "CP" + std::to_string(codePage);
      return "";
  }
}

struct CodePageTable::Tables {
  std::atomic<uint64_t> narrow[0x10000];   // by UTF-16 unit
  std::atomic<uint64_t> single[0x100];     // by byte
  std::atomic<uint64_t> pair[0x10000];     // by lead << 8 | trail
  std::mutex fillLock;
  iconv_t toNarrow = reinterpret_cast<iconv_t>(-1);
  iconv_t toWide = reinterpret_cast<iconv_t>(-1);
};

CodePageTable* CodePageTable::For(UINT codePage) {
  // UTF-7 has shift states and UTF-8 characters run to four bytes: both stay
  // with iconv. So does 949: glibc's converter reads some invalid pairs
  // (0xA2E8) differently depending on the bytes after them, which no
  // per-character table can follow.
  if (codePage == CP_UTF8 || codePage == CP_UTF7 || codePage == 949) return nullptr;
  Registry& registry = TheRegistry();
  if (g_registryGone) return nullptr;
  std::lock_guard<std::mutex> guard(registry.lock);
  for (const auto& t : registry.tables)
    if (t->codePage_ == codePage) return t.get();
  if (IconvCodePageName(codePage).empty()) return nullptr;
  std::unique_ptr<CodePageTable> table(new CodePageTable(codePage));
  // Without iconv's converter the caller's iconv path reports the failure.
  if (table->tables_->toNarrow == reinterpret_cast<iconv_t>(-1) ||
      table->tables_->toWide == reinterpret_cast<iconv_t>(-1)) {
    return nullptr;
  }
  bool ascii = true;
  for (int b = 0; ascii && b < 0x80; ++b) {
    const BYTE in[1] = {static_cast<BYTE>(b)};
    char16_t units[2];
    char bytes[2];
    int count = 0;
    ascii = table->Widen(in, 1, units, &count) == 1 && count == 1 && units[0] == b &&
            table->Narrow(static_cast<char16_t>(b), bytes) == 1 && static_cast<BYTE>(bytes[0]) == b;
  }
  table->asciiIsItself_ = ascii;
  registry.tables.push_back(std::move(table));
  return registry.tables.back().get();
}

CodePageTable::CodePageTable(UINT codePage) : codePage_(codePage), tables_(new Tables()) {
  const std::string name = IconvCodePageName(codePage);
  tables_->toNarrow = iconv_open(name.c_str(), "UTF-16LE");
  tables_->toWide = iconv_open("UTF-16LE", name.c_str());
}

CodePageTable::~CodePageTable() {
  if (tables_->toNarrow != reinterpret_cast<iconv_t>(-1)) iconv_close(tables_->toNarrow);
  if (tables_->toWide != reinterpret_cast<iconv_t>(-1)) iconv_close(tables_->toWide);
  delete tables_;
}

namespace {

// iconv's conversion of exactly `size` input bytes as one character into
// at most two output units of `unitSize` bytes: the entry with its units (or
// bytes), or the entry with none when the input is not one whole character
// iconv can convert.
uint64_t ConvertExactly(iconv_t cd, const char* input, size_t size, size_t unitSize) {
  char in[2] = {input[0], size > 1 ? input[1] : '\0'};
  char out[8];
  char* inPtr = in;
  size_t inLeft = size;
  char* outPtr = out;
  size_t outLeft = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  const size_t n = static_cast<size_t>(outPtr - out) / unitSize;
  if (rc == static_cast<size_t>(-1) || inLeft != 0 || n == 0 || n > 2) return Pack(0, 0, 0);
  uint16_t units[2] = {0, 0};
  for (size_t i = 0; i < n; ++i) {
    const auto* u = reinterpret_cast<const BYTE*>(out) + i * unitSize;
    units[i] = unitSize == 2 ? static_cast<uint16_t>(u[0] | u[1] << 8) : u[0];  // UTF-16LE, or bytes
  }
  return Pack(static_cast<int>(n), units[0], units[1]);
}

// The entry in `slot`, filled by `fill` under `lock` the first time.
template <typename Fill>
uint64_t Entry(std::atomic<uint64_t>& slot, std::mutex& lock, Fill fill) {
  uint64_t e = slot.load(std::memory_order_acquire);
  if (!(e & kKnown)) {
    std::lock_guard<std::mutex> guard(lock);
    e = fill();
    slot.store(e, std::memory_order_release);
  }
  return e;
}

}  // namespace

int CodePageTable::Narrow(char16_t unit, char out[2]) {
  const uint64_t e = Entry(tables_->narrow[unit], tables_->fillLock, [&] {
    const char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return ConvertExactly(tables_->toNarrow, in, 2, 1);
  });
  const int count = CountOf(e);
  out[0] = static_cast<char>(e & 0xFF);
  if (count == 2) out[1] = static_cast<char>((e >> 32) & 0xFF);
  return count;
}

int CodePageTable::Widen(const BYTE* in, size_t left, char16_t units[2], int* count) {
  const char* bytes = reinterpret_cast<const char*>(in);
  uint64_t e = Entry(tables_->single[in[0]], tables_->fillLock,
                     [&] { return ConvertExactly(tables_->toWide, bytes, 1, 2); });
  int taken = 1;
  // A pair must be one character: a first byte that stands alone is read
  // alone, before the pair is tried.
  if (CountOf(e) == 0 && IsDBCSLeadByteEx(codePage_, in[0]) && left >= 2) {
    e = Entry(tables_->pair[static_cast<unsigned>(in[0]) << 8 | in[1]], tables_->fillLock,
              [&] { return ConvertExactly(tables_->toWide, bytes, 2, 2); });
    taken = CountOf(e) ? 2 : 1;
  }
  *count = CountOf(e);
  units[0] = static_cast<char16_t>(e & 0xFFFF);
  units[1] = static_cast<char16_t>((e >> 32) & 0xFFFF);
  return taken;
}

}  // namespace kv::platform
