// Native messaging frames: length prefix, bounded reads, skipped oversized
// messages, and writes that stop at a closed pipe.
#include "kvcommon/native_frame.h"

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#else
#include <io.h>
#endif

namespace kv::native {
namespace {

// Reads exactly `size` bytes unless the input ends first; returns how many.
size_t ReadFully(FrameInput& in, char* into, size_t size) {
  size_t done = 0;
  while (done < size) {
    size_t n = in.Read(into + done, size - done);
    if (n == 0) break;
    done += n;
  }
  return done;
}

// Pieces in which an oversized frame is dropped and a message is grown, so a
// declared length alone never decides how much memory is taken.
constexpr size_t kPiece = 64 * 1024;

}  // namespace

size_t FdInput::Read(char* into, size_t most) {
  for (;;) {
#ifndef _WIN32
    ssize_t n = ::read(fd_, into, most);
#else
    int n = ::_read(fd_, into, static_cast<unsigned>(most > 0x40000000u ? 0x40000000u : most));
#endif
    if (n > 0) return static_cast<size_t>(n);
    if (n < 0 && errno == EINTR) continue;
    return 0;
  }
}

bool FdOutput::Write(const char* data, size_t size) {
  while (size > 0) {
#ifndef _WIN32
    ssize_t n = ::write(fd_, data, size);
#else
    int n = ::_write(fd_, data, static_cast<unsigned>(size > 0x40000000u ? 0x40000000u : size));
#endif
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

ReadStatus ReadFrame(FrameInput& in, uint32_t limit, std::string* message, uint32_t* declaredLength) {
  message->clear();
  char header[4];
  size_t got = ReadFully(in, header, sizeof header);
  if (got == 0) return ReadStatus::kEnd;
  if (got < sizeof header) return ReadStatus::kTruncated;
  uint32_t length = 0;
  std::memcpy(&length, header, sizeof length);  // the machine's own byte order
  if (declaredLength) *declaredLength = length;

  if (length > limit) {
    char piece[4096];
    uint32_t left = length;
    while (left > 0) {
      size_t want = left < sizeof piece ? left : sizeof piece;
      size_t n = ReadFully(in, piece, want);
      if (n < want) return ReadStatus::kTruncated;
      left -= static_cast<uint32_t>(n);
    }
    return ReadStatus::kTooLong;
  }

  // Grown as the bytes arrive: a short input with a large declared length
  // costs no more memory than the bytes that came.
  size_t filled = 0;
  while (filled < length) {
    size_t want = length - filled < kPiece ? length - filled : kPiece;
    message->resize(filled + want);
    size_t n = ReadFully(in, &(*message)[filled], want);
    filled += n;
    if (n < want) {
      message->resize(filled);
      return ReadStatus::kTruncated;
    }
  }
  return ReadStatus::kMessage;
}

WriteStatus WriteFrame(FrameOutput& out, const std::string& message, uint32_t limit) {
  if (message.size() > limit) return WriteStatus::kTooLong;
  uint32_t length = static_cast<uint32_t>(message.size());
  char header[4];
  std::memcpy(header, &length, sizeof header);
  if (!out.Write(header, sizeof header)) return WriteStatus::kClosed;
  if (!message.empty() && !out.Write(message.data(), message.size())) return WriteStatus::kClosed;
  return WriteStatus::kWritten;
}

}  // namespace kv::native
