// Fuzz target for the native messaging frames: any byte stream reads as a
// sequence of frames, skipped oversized ones and one final end or
// truncation, without reading past the input or keeping more than the limit;
// what is read writes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kvcommon/native_frame.h"

namespace {

class MemoryInput : public kv::native::FrameInput {
 public:
  MemoryInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Read(char* into, size_t most) override {
    size_t n = most < size_ - at_ ? most : size_ - at_;
    if (n > 7) n = 7;  // short reads, as from a pipe
    std::memcpy(into, data_ + at_, n);
    at_ += n;
    return n;
  }
  size_t at() const { return at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class MemoryOutput : public kv::native::FrameOutput {
 public:
  bool Write(const char* data, size_t size) override {
    bytes.append(data, size);
    return true;
  }
  std::string bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A small limit so that both sides of it are reached.
  constexpr uint32_t kLimit = 64;
  MemoryInput in(data, size);
  std::string message;
  for (;;) {
    size_t start = in.at();
    uint32_t declared = 0;
    kv::native::ReadStatus status = kv::native::ReadFrame(in, kLimit, &message, &declared);
    if (in.at() > size || message.size() > kLimit) std::abort();
    if (status == kv::native::ReadStatus::kEnd) {
      if (start != size) std::abort();
      break;
    }
    if (status == kv::native::ReadStatus::kTruncated) {
      if (in.at() != size) std::abort();
      break;
    }
    if (status == kv::native::ReadStatus::kTooLong) {
      if (declared <= kLimit || in.at() - start != 4u + declared) std::abort();
      continue;
    }
    MemoryOutput out;
    if (kv::native::WriteFrame(out, message, kLimit) != kv::native::WriteStatus::kWritten) std::abort();
    if (out.bytes.size() != in.at() - start || std::memcmp(out.bytes.data(), data + start, out.bytes.size()) != 0)
      std::abort();
  }
  return 0;
}
