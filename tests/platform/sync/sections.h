// Paging-file sections of a test's own name, mapped for reading and writing.
#pragma once

#include <windows.h>

#include <string>

namespace kv::test::sections {

constexpr DWORD kSize = 8192;

inline HANDLE Create(const std::string& name, DWORD size = kSize) {
  return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
}

inline BYTE* Map(HANDLE mapping) {
  return static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
}

}  // namespace kv::test::sections
