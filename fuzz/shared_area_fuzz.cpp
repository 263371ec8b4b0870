// Fuzz target for the shared key/value area: arbitrary bytes are written
// straight into a private area, as a faulty or hostile process could, and the
// readers and writers run over them. A sound area must behave as a store
// (what is added reads back, what is removed is gone, the tail stays zero);
// an unsound one must make readers find nothing and writers fail; nothing
// may read or write outside the area.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sign/shared_memory.h"

namespace {

constexpr DWORD kSize = 4096;

DWORD Dword(const BYTE* p) { return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24; }

// The format's own walk, independent of the class: false when a count or a
// length runs past the area; `end` is the offset after the last entry.
bool Sound(const BYTE* v, DWORD* end) {
  DWORD offset = 8;
  for (DWORD i = 0, n = Dword(v); i < n; ++i) {
    if (kSize - offset < 84) return false;
    const DWORD length = Dword(v + offset + 80);
    if (length > kSize - offset - 84) return false;
    offset += 84 + length;
  }
  *end = offset;
  return true;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static cSharedMemory* area = new cSharedMemory("kvfuzz." + std::to_string(getpid()), kSize);
  Check(area->IsReady());
  BYTE* view = const_cast<BYTE*>(area->View());
  std::memset(view, 0, kSize);
  std::memcpy(view, data, size < kSize ? size : kSize);

  // Keys the input may well contain: short ASCII ones spelled as UTF-16LE.
  const std::string keys[] = {"a", "b", "signerMedia", "k"};
  DWORD end = 0;
  const bool sound = Sound(view, &end);
  for (const std::string& key : keys) {
    DWORD length = 0;
    const BYTE exists = area->Exists(key);
    const BYTE read = area->Read(key, nullptr, &length);
    Check(exists == read);
    if (!sound) Check(!exists);
    if (exists) {
      Check(length <= kSize);
      std::string value(length, '\0');
      DWORD got = length;
      Check(area->Read(key, length ? &value[0] : nullptr, &got) == 1 && got == length);
    }
    area->ReadInt(key, -1);
  }

  const std::string fresh = "fuzzKey";
  const std::string value = "value-bytes";
  const DWORD countBefore = Dword(view);
  const BYTE added = area->Add(fresh, value.data(), static_cast<DWORD>(value.size()));
  if (!sound) {
    Check(!added);
    Check(!area->Update("a", "x", 1));
    Check(!area->Remove("a"));
    return 0;
  }
  if (added) {
    Check(Dword(view) == countBefore + 1);
    char back[16] = {};
    DWORD length = sizeof back;
    Check(area->Read(fresh, back, &length) && length == value.size() && value == std::string(back, length));
    Check(area->Update(fresh, "v", 1));
    Check(area->Remove(fresh));
    Check(!area->Exists(fresh));
    DWORD after = 0;
    Check(Sound(view, &after));
  } else {
    // Only a full area or a key already there (the input may hold one) refuse.
    Check(area->LastError() == ERROR_OUTOFMEMORY || area->LastError() == ERROR_ALREADY_EXISTS);
  }
  if (area->Exists("a") && area->Remove("a")) {
    DWORD after = 0;
    Check(Sound(view, &after));
    for (DWORD i = after; i < kSize; ++i) Check(view[i] == 0 || i >= end);
  }
  return 0;
}
