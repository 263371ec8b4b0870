// Framing of the browsers' native messaging: each message is a 32-bit
// length in the machine's byte order followed by that many bytes of UTF-8
// JSON, on the host's standard input and output.
//
// Reading never trusts the length: a message longer than the reader's limit
// is skipped (read and dropped in small pieces, never held) and reported, so
// the connection stays in step; the end of input inside a frame is told
// apart from a clean end between frames. Writing refuses a message longer
// than the browsers accept from a host, so the caller can send a small error
// answer instead of one the browser would drop with the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kv::native {

// Largest message the browsers accept from a host (both cap it at 1 MB).
inline constexpr uint32_t kMaxMessageToBrowser = 1024u * 1024u;
// Largest answer the extension joins from frames. The browser hands the
// joined answer on to the page as one extension message, which Chromium caps
// at 64 MiB; 48 MiB leaves room for the members the message gains on its way
// and carries an attached PKCS#7 of about 36 MB.
inline constexpr uint32_t kMaxJoinedAnswer = 48u * 1024u * 1024u;
// Largest message a host keeps from the browser. The browsers allow up to
// 4 GiB; no call's arguments come near this, and a larger one is skipped.
inline constexpr uint32_t kMaxMessageToHost = 64u * 1024u * 1024u;

// Where frames are read from; Read returns how many bytes it gave (0: end
// of input or a failed read).
class FrameInput {
 public:
  virtual ~FrameInput() = default;
  virtual size_t Read(char* into, size_t most) = 0;
};

// Where frames are written; Write returns false when the reader has gone.
class FrameOutput {
 public:
  virtual ~FrameOutput() = default;
  virtual bool Write(const char* data, size_t size) = 0;
};

// A file descriptor (standard input and output for a host). Interrupted
// calls are retried; a closed pipe is a failed write, not a signal.
class FdInput : public FrameInput {
 public:
  explicit FdInput(int fd) : fd_(fd) {}
  size_t Read(char* into, size_t most) override;

 private:
  int fd_;
};

class FdOutput : public FrameOutput {
 public:
  explicit FdOutput(int fd) : fd_(fd) {}
  bool Write(const char* data, size_t size) override;

 private:
  int fd_;
};

enum class ReadStatus {
  kMessage,    // *message holds the frame's bytes
  kTooLong,    // the frame was longer than the limit and has been skipped
  kEnd,        // input ended between frames
  kTruncated,  // input ended inside a frame (its length or its bytes)
};

// Reads one frame of at most `limit` bytes into *message.
ReadStatus ReadFrame(FrameInput& in, uint32_t limit, std::string* message, uint32_t* declaredLength = nullptr);

enum class WriteStatus {
  kWritten,
  kTooLong,  // nothing was written
  kClosed,   // the reader has gone (a partial frame may have been written)
};

// Writes `message` as one frame when it is at most `limit` bytes long.
WriteStatus WriteFrame(FrameOutput& out, const std::string& message, uint32_t limit = kMaxMessageToBrowser);

// Writes `message` (JSON text, as the JSON writer makes it) as one frame when
// it fits, else as consecutive frames, each at most `limit` bytes:
//   {"id": ID, "part": K, "parts": N, "text": "..."}   K = 1..N
// whose texts, joined in order, are the message. `idJson` is ID as JSON (a
// number, a quoted string or null). A piece never ends inside a UTF-8
// sequence, so each text is valid on its own.
WriteStatus WriteAnswer(FrameOutput& out, const std::string& message, const std::string& idJson,
                        uint32_t limit = kMaxMessageToBrowser);

}  // namespace kv::native
