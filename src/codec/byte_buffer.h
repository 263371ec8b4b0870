// CByteBuffer: the owned byte array every binary value of the engine lives
// in. Storage always carries two zero bytes after the content, so the content
// can be read as a zero-terminated narrow or UTF-16 string. Also the home of
// whole-file read and write and of the hex and Base64 codecs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class CByteBuffer {
 public:
  CByteBuffer() = default;
  virtual ~CByteBuffer();
  CByteBuffer(const CByteBuffer&) = delete;
  CByteBuffer& operator=(const CByteBuffer&) = delete;

  BYTE* Data() const { return data_; }
  int32_t Size() const { return size_; }
  bool Empty() const { return data_ == nullptr; }
  // The content read as a zero-terminated narrow string ("" when empty).
  const char* c_str() const { return data_ ? reinterpret_cast<const char*>(data_) : ""; }

  void Clear();
  [[nodiscard]] bool Allocate(int32_t n);
  [[nodiscard]] bool Append(const void* src, int32_t n);
  [[nodiscard]] bool AppendString(const std::string& s);
  [[nodiscard]] bool AssignReversed(const void* src, int32_t n);

  // Whole-file read and write; `path` is in the ANSI code page.
  [[nodiscard]] bool LoadFromFile(const std::string& path);
  [[nodiscard]] bool SaveToFile(const std::string& path) const;
  [[nodiscard]] static bool RemoveFile(const std::string& path);

  // Upper-case hex without separators; decoding accepts either case.
  [[nodiscard]] bool EncodeHex(const void* src, int32_t n);
  [[nodiscard]] bool DecodeHex(const char* text);

  // One-line Base64; decoding accepts line breaks, blanks and PEM armour.
  [[nodiscard]] bool EncodeBase64(const void* src, int32_t n);
  [[nodiscard]] bool DecodeBase64(const char* text);
  static int Base64Index(char c);

 protected:
  // Takes ownership of `storage` (size + 2 bytes, the last two zero).
  void Adopt(BYTE* storage, int32_t size);

 private:
  BYTE* data_ = nullptr;
  int32_t size_ = 0;
};
