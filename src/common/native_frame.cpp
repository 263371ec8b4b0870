// Native messaging frames: length prefix, bounded reads, skipped oversized
// messages, writes that stop at a closed pipe, and long answers in pieces.
#include "kvcommon/native_frame.h"

#include <cerrno>
#include <cstring>
#include <vector>

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

// Bytes a message byte takes inside a JSON string.
size_t QuotedCost(unsigned char c) {
  if (c == '"' || c == '\\') return 2;
  return c < 0x20 ? 6 : 1;
}

void AppendQuotedBytes(const std::string& bytes, size_t from, size_t to, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (size_t i = from; i < to; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      out->append("\\u00");
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 0xF]);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
  out->push_back('"');
}

bool IsUtf8Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

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

WriteStatus WriteAnswer(FrameOutput& out, const std::string& message, const std::string& idJson, uint32_t limit) {
  if (message.size() <= limit) return WriteFrame(out, message, limit);
  // Room for the frame's members around its text; part and parts take at
  // most ten digits each.
  const size_t overhead = idJson.size() + 64;
  if (limit <= overhead + 16) return WriteStatus::kTooLong;
  const size_t budget = limit - overhead;

  std::vector<size_t> ends;
  for (size_t at = 0; at < message.size();) {
    size_t end = at, cost = 0;
    while (end < message.size() && cost + QuotedCost(static_cast<unsigned char>(message[end])) <= budget)
      cost += QuotedCost(static_cast<unsigned char>(message[end++]));
    while (end < message.size() && end > at && IsUtf8Continuation(static_cast<unsigned char>(message[end]))) --end;
    if (end == at) return WriteStatus::kTooLong;  // no whole character fits: not UTF-8
    ends.push_back(end);
    at = end;
  }
  size_t start = 0;
  for (size_t k = 0; k < ends.size(); ++k) {
    std::string frame = "{\"id\": " + idJson + ", \"part\": " + std::to_string(k + 1) +
                        ", \"parts\": " + std::to_string(ends.size()) + ", \"text\": ";
    AppendQuotedBytes(message, start, ends[k], &frame);
    frame += "}";
    WriteStatus status = WriteFrame(out, frame, limit);
    if (status != WriteStatus::kWritten) return status;
    start = ends[k];
  }
  return WriteStatus::kWritten;
}

}  // namespace kv::native
