// The module's version record, laid out as a Windows VS_VERSIONINFO resource
// (16-bit little-endian lengths, UTF-16 keys and strings, 32-bit alignment).
// The build embeds it in every module that links the platform layer, taking
// the numbers from the project version; the version calls read it back from
// memory or from the file on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kv::platform {

// The record embedded in this module.
const uint8_t* EmbeddedVersionRecord();
size_t EmbeddedVersionRecordSize();

// Finds a version record in a file image: the first place where a complete,
// consistent VS_VERSIONINFO block starts. Returns its offset and length.
bool FindVersionRecord(const uint8_t* image, size_t size, size_t* offset, size_t* length);

}  // namespace kv::platform
