// Fuzz target: the version-record reader. Arbitrary bytes behind a record
// header are searched as a file image would be, and every record found is
// walked with VerQueryValueA the way callers query it.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kernel/version_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Header of a record (length, value length, type, key), the length and the
  // rest from the input, so the search has something to find.
  const uint8_t* header = kv::platform::EmbeddedVersionRecord();
  std::vector<uint8_t> image;
  if (size >= 2) {
    image.insert(image.end(), data, data + 2);
    image.insert(image.end(), header + 2, header + 38);
    image.insert(image.end(), data + 2, data + size);
  }
  size_t offset = 0, length = 0;
  if (!kv::platform::FindVersionRecord(image.data(), image.size(), &offset, &length)) return 0;
  // The block as GetFileVersionInfoA lays it out: the record, then room for
  // the ANSI copies.
  std::vector<uint8_t> block(length * 2 + 4);
  std::memcpy(block.data(), image.data() + offset, length);
  for (const char* path : {"\\", "", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904b0\\FileVersion",
                           "\\StringFileInfo\\040904b0\\ProductName", "\\StringFileInfo", "\\\\a\\\\b\\c"}) {
    LPVOID value = nullptr;
    UINT valueLength = 0;
    if (VerQueryValueA(block.data(), path, &value, &valueLength) && value) {
      volatile uint8_t sink = 0;
      const auto* bytes = static_cast<const uint8_t*>(value);
      for (UINT i = 0; i < valueLength; ++i) sink = sink ^ bytes[i];
    }
  }
  return 0;
}
