// CByteBuffer: the owned byte array every binary value of the engine lives
// in. Storage always carries two zero bytes after the content, so the content
// can be read as a zero-terminated narrow or UTF-16 string. Also the home of
// whole-file read and write and of the hex and Base64 codecs.
//
// Every operation that replaces the content builds the new content before it
// lets go of the old one, so a buffer may be fed its own bytes (for example
// `buf.AssignReversed(buf.Data(), buf.Size())`). On failure such an operation
// leaves the buffer empty, except where noted.
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
  // n < 1 gives false and an empty buffer; otherwise n zero bytes.
  [[nodiscard]] bool Allocate(int32_t n);
  // src null or n <= 0 gives false and leaves the content as it was.
  [[nodiscard]] bool Append(const void* src, int32_t n);
  [[nodiscard]] bool AppendString(const std::string& s);
  // The n bytes of src in reverse order (little-endian <-> big-endian). With
  // src null and n >= 1 the result is false and the buffer holds n zero bytes.
  [[nodiscard]] bool AssignReversed(const void* src, int32_t n);

  // Whole-file read and write; `path` is in the ANSI code page. On failure the
  // thread's last error is the one the failing platform call left
  // (ERROR_FILE_TOO_LARGE for files of 2 GiB or more, ERROR_HANDLE_EOF for an
  // empty file or one that shrank while being read).
  [[nodiscard]] bool LoadFromFile(const std::string& path);
  [[nodiscard]] bool SaveToFile(const std::string& path) const;
  // Replaces (or creates) the file so that it holds either its old content or
  // the whole new content, whatever happens during the write: the bytes go to
  // a temporary file in the same folder, are flushed to disk, and that file is
  // renamed over `path`, or over the file a link at `path` names. On failure the old file is untouched and the
  // temporary file is removed; the last error is the failing call's.
  [[nodiscard]] bool SaveToFileAtomically(const std::string& path) const;
  [[nodiscard]] static bool RemoveFile(const std::string& path);

  // Upper-case hex without separators; decoding accepts either case and does
  // not validate the digits (see hex_codec.cpp for the arithmetic).
  [[nodiscard]] bool EncodeHex(const void* src, int32_t n);
  [[nodiscard]] bool DecodeHex(const char* text);

  // One-line Base64; decoding accepts line breaks, blanks and PEM armour and
  // never rejects malformed content (see base64_codec.cpp).
  [[nodiscard]] bool EncodeBase64(const void* src, int32_t n);
  [[nodiscard]] bool DecodeBase64(const char* text);
  // Position of c in "A..Za..z0..9+/=" (0 to 64), or 65 when it is not there.
  static int Base64Index(char c);

 protected:
  // Zeroed storage for `size` content bytes plus the two guard bytes; null
  // when size is negative, too large or memory is short. Storage handed to
  // Adopt must come from here.
  static BYTE* AllocateStorage(int32_t size);
  // Frees the old content and takes ownership of `storage` (from
  // AllocateStorage(size) or larger; the two bytes after `size` must be zero).
  // A null storage or a size < 1 leaves the buffer empty.
  void Adopt(BYTE* storage, int32_t size);

 private:
  // Storage for codecs that write every content byte themselves: only the
  // guard bytes are zeroed, which spares a pass over large outputs.
  static BYTE* AllocateForOverwrite(int64_t size);
  // Gives back the storage beyond size + 2 bytes of a buffer that was
  // allocated larger than its final content, and zeroes the guard bytes.
  static BYTE* ShrinkStorage(BYTE* storage, int32_t size);

  BYTE* data_ = nullptr;
  int32_t size_ = 0;
};
