// Builds the version record at compile time, so it sits in the module's
// read-only data exactly as it will be read back from the file.
#include "kernel/version_record.h"

#include <array>
#include <cstring>

#ifndef KV_VERSION_MAJOR
#error "the build passes KV_VERSION_MAJOR/MINOR/PATCH/TWEAK"
#endif

#define KV_STRINGIZE2(x) #x
#define KV_STRINGIZE(x) KV_STRINGIZE2(x)
#define KV_VERSION_TEXT                                                                                    \
  KV_STRINGIZE(KV_VERSION_MAJOR) "." KV_STRINGIZE(KV_VERSION_MINOR) "." KV_STRINGIZE(KV_VERSION_PATCH) "." \
      KV_STRINGIZE(KV_VERSION_TWEAK)

namespace kv::platform {
namespace {

constexpr size_t kCapacity = 1024;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;

// A little writer usable in constant expressions.
struct Writer {
  std::array<uint8_t, kCapacity> bytes{};
  size_t pos = 0;

  constexpr void Word(uint16_t v) {
    bytes[pos++] = static_cast<uint8_t>(v & 0xFF);
    bytes[pos++] = static_cast<uint8_t>(v >> 8);
  }
  constexpr void Dword(uint32_t v) {
    Word(static_cast<uint16_t>(v & 0xFFFF));
    Word(static_cast<uint16_t>(v >> 16));
  }
  constexpr void PatchWord(size_t at, uint16_t v) {
    bytes[at] = static_cast<uint8_t>(v & 0xFF);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  // An ASCII text as UTF-16 with its terminator.
  constexpr void Text(const char* s) {
    for (; *s; ++s) Word(static_cast<uint16_t>(static_cast<unsigned char>(*s)));
    Word(0);
  }
  constexpr void Align() {
    while (pos % 4) bytes[pos++] = 0;
  }
  // Opens a block: length (patched by Close), value length, type, key.
  constexpr size_t Open(uint16_t valueLength, uint16_t type, const char* key) {
    size_t start = pos;
    Word(0);
    Word(valueLength);
    Word(type);
    Text(key);
    Align();
    return start;
  }
  constexpr void Close(size_t start) { PatchWord(start, static_cast<uint16_t>(pos - start)); }
};

constexpr size_t Length(const char* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

constexpr void StringEntry(Writer& w, const char* key, const char* value) {
  w.Align();
  size_t start = w.Open(static_cast<uint16_t>(Length(value) + 1), 1, key);
  w.Text(value);
  w.Close(start);
}

struct Record {
  std::array<uint8_t, kCapacity> bytes;
  size_t size;
};

constexpr Record Build() {
  Writer w;
  size_t root = w.Open(52, 0, "VS_VERSION_INFO");
  constexpr uint32_t ms = (uint32_t{KV_VERSION_MAJOR} << 16) | uint32_t{KV_VERSION_MINOR};
  constexpr uint32_t ls = (uint32_t{KV_VERSION_PATCH} << 16) | uint32_t{KV_VERSION_TWEAK};
  w.Dword(kFixedSignature);
  w.Dword(0x00010000);  // structure version 1.0
  w.Dword(ms);          // file version
  w.Dword(ls);
  w.Dword(ms);  // product version
  w.Dword(ls);
  w.Dword(0x3F);        // VS_FFI_FILEFLAGSMASK
  w.Dword(0);           // no flags
  w.Dword(0x00040004);  // VOS_NT_WINDOWS32
  w.Dword(2);           // VFT_DLL
  w.Dword(0);
  w.Dword(0);  // no file date
  w.Dword(0);
  w.Align();

  size_t strings = w.Open(0, 1, "StringFileInfo");
  size_t table = w.Open(0, 1, "040904b0");
  StringEntry(w, "CompanyName", "Korvessa");
  StringEntry(w, "FileDescription", "Korvessa certificate and signing engine");
  StringEntry(w, "FileVersion", KV_VERSION_TEXT);
  StringEntry(w, "InternalName", "korvessa");
  StringEntry(w, "OriginalFilename", "korvessa.dll");
  StringEntry(w, "ProductName", "Korvessa");
  StringEntry(w, "ProductVersion", KV_VERSION_TEXT);
  w.Align();
  w.Close(table);
  w.Close(strings);

  w.Align();
  size_t vars = w.Open(0, 1, "VarFileInfo");
  size_t translation = w.Open(4, 0, "Translation");
  w.Word(0x0409);  // U.S. English
  w.Word(0x04B0);  // Unicode
  w.Close(translation);
  w.Close(vars);
  w.Close(root);
  return Record{w.bytes, w.pos};
}

// Kept in read-only data, whole, even where nothing reads it but the file
// scanner of another process.
__attribute__((used)) constexpr Record kRecord = Build();

uint16_t ReadWord(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t ReadDword(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

const uint8_t* EmbeddedVersionRecord() { return kRecord.bytes.data(); }
size_t EmbeddedVersionRecordSize() { return kRecord.size; }

bool FindVersionRecord(const uint8_t* image, size_t size, size_t* offset, size_t* length) {
  // The key "VS_VERSION_INFO" in UTF-16 sits 6 bytes into the block; taking
  // it from the embedded record keeps a second copy out of the binary.
  const uint8_t* key = kRecord.bytes.data() + 6;
  constexpr size_t kKeyBytes = 32;
  constexpr size_t kFixedAt = 40;
  constexpr size_t kMinimum = kFixedAt + 52;
  if (size < kMinimum) return false;
  const uint8_t* cursor = image;
  const uint8_t* end = image + size;
  while (cursor < end) {
    const void* hit = memmem(cursor, static_cast<size_t>(end - cursor), key, kKeyBytes);
    if (!hit) return false;
    const uint8_t* keyAt = static_cast<const uint8_t*>(hit);
    cursor = keyAt + 1;
    if (keyAt < image + 6) continue;
    const uint8_t* block = keyAt - 6;
    size_t room = static_cast<size_t>(end - block);
    if (room < kMinimum) continue;
    uint16_t total = ReadWord(block);
    if (total < kMinimum || total > room || ReadWord(block + 2) != 52 || ReadWord(block + 4) != 0) continue;
    if (ReadDword(block + kFixedAt) != kFixedSignature) continue;
    *offset = static_cast<size_t>(block - image);
    *length = total;
    return true;
  }
  return false;
}

}  // namespace kv::platform
