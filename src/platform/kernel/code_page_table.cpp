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

// An entry: bit 31 set once known; bits 24-25 the count (bytes or units,
// 0 for none); the value in bits 0-15 (one unit, or bytes high then low)
// and, for a second unit, bits 32-47.
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
  if (codePage == CP_UTF8 || codePage == CP_UTF7 || codePage == 949 || IconvCodePageName(codePage).empty()) {
    return nullptr;
  }
  Registry& registry = TheRegistry();
  if (g_registryGone) return nullptr;
  std::lock_guard<std::mutex> guard(registry.lock);
  for (const auto& t : registry.tables)
    if (t->codePage_ == codePage) return t.get();
  std::unique_ptr<CodePageTable> table(new CodePageTable(codePage));
  // Without iconv's converter the caller's iconv path reports the failure.
  if (table->tables_->toNarrow == reinterpret_cast<iconv_t>(-1) ||
      table->tables_->toWide == reinterpret_cast<iconv_t>(-1)) {
    return nullptr;
  }
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

int CodePageTable::Narrow(char16_t unit, char out[2]) {
  uint64_t e = tables_->narrow[unit].load(std::memory_order_acquire);
  if (!(e & kKnown)) {
    std::lock_guard<std::mutex> guard(tables_->fillLock);
    char16_t in[1] = {unit};
    char bytes[8];
    char* inPtr = reinterpret_cast<char*>(in);
    size_t inLeft = sizeof in;
    char* outPtr = bytes;
    size_t outLeft = sizeof bytes;
    iconv(tables_->toNarrow, nullptr, nullptr, nullptr, nullptr);
    size_t rc = iconv(tables_->toNarrow, &inPtr, &inLeft, &outPtr, &outLeft);
    size_t n = static_cast<size_t>(outPtr - bytes);
    if (rc == static_cast<size_t>(-1) || inLeft != 0 || n == 0 || n > 2) {
      e = Pack(0, 0, 0);
    } else if (n == 1) {
      e = Pack(1, static_cast<BYTE>(bytes[0]), 0);
    } else {
      e = Pack(2, static_cast<uint16_t>(static_cast<BYTE>(bytes[0]) << 8 | static_cast<BYTE>(bytes[1])), 0);
    }
    tables_->narrow[unit].store(e, std::memory_order_release);
  }
  const int count = CountOf(e);
  if (count == 1) {
    out[0] = static_cast<char>(e & 0xFF);
  } else if (count == 2) {
    out[0] = static_cast<char>((e >> 8) & 0xFF);
    out[1] = static_cast<char>(e & 0xFF);
  }
  return count;
}

namespace {

// iconv's reading of exactly `size` bytes as one character: its units, or
// none when the bytes are not one whole valid character.
uint64_t DecodeExactly(iconv_t cd, const BYTE* bytes, size_t size) {
  char in[2] = {static_cast<char>(bytes[0]), size > 1 ? static_cast<char>(bytes[1]) : '\0'};
  char16_t units[4];
  char* inPtr = in;
  size_t inLeft = size;
  char* outPtr = reinterpret_cast<char*>(units);
  size_t outLeft = sizeof units;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  const size_t n = static_cast<size_t>(reinterpret_cast<char16_t*>(outPtr) - units);
  // A pair must be one character: a first byte that stands alone is read
  // alone by the caller before it tries the pair.
  if (rc == static_cast<size_t>(-1) || inLeft != 0 || n == 0 || n > 2) return Pack(0, 0, 0);
  return Pack(static_cast<int>(n), units[0], n == 2 ? units[1] : 0);
}

}  // namespace

int CodePageTable::Widen(const BYTE* in, size_t left, char16_t units[2], int* count) {
  uint64_t e = tables_->single[in[0]].load(std::memory_order_acquire);
  if (!(e & kKnown)) {
    std::lock_guard<std::mutex> guard(tables_->fillLock);
    e = DecodeExactly(tables_->toWide, in, 1);
    tables_->single[in[0]].store(e, std::memory_order_release);
  }
  int taken = 1;
  if (CountOf(e) == 0 && IsDBCSLeadByteEx(codePage_, in[0]) && left >= 2) {
    const unsigned index = static_cast<unsigned>(in[0]) << 8 | in[1];
    e = tables_->pair[index].load(std::memory_order_acquire);
    if (!(e & kKnown)) {
      std::lock_guard<std::mutex> guard(tables_->fillLock);
      e = DecodeExactly(tables_->toWide, in, 2);
      tables_->pair[index].store(e, std::memory_order_release);
    }
    taken = CountOf(e) ? 2 : 1;
  }
  *count = CountOf(e);
  units[0] = static_cast<char16_t>(e & 0xFFFF);
  units[1] = static_cast<char16_t>((e >> 32) & 0xFFFF);
  return taken;
}

}  // namespace kv::platform
