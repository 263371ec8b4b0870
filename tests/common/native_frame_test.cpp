// Native messaging frames: the edge lengths, oversized frames skipped with
// the stream kept in step, truncated frames, and a reader that has gone.
#include "kvcommon/native_frame.h"

#include "kvcommon/json.h"
#include "kvcommon/utf.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

namespace {

using kv::native::ReadFrame;
using kv::native::ReadStatus;
using kv::native::WriteFrame;
using kv::native::WriteStatus;

// Bytes handed out in small, uneven pieces, as a pipe may.
class ChoppedInput : public kv::native::FrameInput {
 public:
  explicit ChoppedInput(std::string bytes) : bytes_(std::move(bytes)) {}
  size_t Read(char* into, size_t most) override {
    size_t n = std::min({most, bytes_.size() - at_, size_t{3}});
    std::memcpy(into, bytes_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string bytes_;
  size_t at_ = 0;
};

class StringOutput : public kv::native::FrameOutput {
 public:
  bool Write(const char* data, size_t size) override {
    bytes.append(data, size);
    return true;
  }
  std::string bytes;
};

std::string Frame(const std::string& body, uint32_t declared) {
  std::string out(4, '\0');
  std::memcpy(&out[0], &declared, 4);
  return out + body;
}
std::string Frame(const std::string& body) { return Frame(body, static_cast<uint32_t>(body.size())); }

constexpr uint32_t kLimit = 16;

TEST(NativeFrame, ReadsEmptyOneByteAndLimitLengthMessagesInTurn) {
  const std::string atLimit(kLimit, 'x');
  ChoppedInput in(Frame("") + Frame("{") + Frame(atLimit));
  std::string message = "stale";
  EXPECT_EQ(ReadStatus::kMessage, ReadFrame(in, kLimit, &message));
  EXPECT_EQ("", message);
  EXPECT_EQ(ReadStatus::kMessage, ReadFrame(in, kLimit, &message));
  EXPECT_EQ("{", message);
  EXPECT_EQ(ReadStatus::kMessage, ReadFrame(in, kLimit, &message));
  EXPECT_EQ(atLimit, message);
  EXPECT_EQ(ReadStatus::kEnd, ReadFrame(in, kLimit, &message));
}

TEST(NativeFrame, SkipsAFrameOneByteOverTheLimitAndStaysInStep) {
  ChoppedInput in(Frame(std::string(kLimit + 1, 'y')) + Frame("next"));
  std::string message;
  uint32_t declared = 0;
  EXPECT_EQ(ReadStatus::kTooLong, ReadFrame(in, kLimit, &message, &declared));
  EXPECT_EQ(kLimit + 1, declared);
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(ReadStatus::kMessage, ReadFrame(in, kLimit, &message));
  EXPECT_EQ("next", message);
}

TEST(NativeFrame, TellsTruncatedFramesFromACleanEnd) {
  std::string message;
  ChoppedInput empty("");
  EXPECT_EQ(ReadStatus::kEnd, ReadFrame(empty, kLimit, &message));

  ChoppedInput halfHeader(std::string("\x05\x00", 2));
  EXPECT_EQ(ReadStatus::kTruncated, ReadFrame(halfHeader, kLimit, &message));

  ChoppedInput shortBody(Frame("abc", 10));
  EXPECT_EQ(ReadStatus::kTruncated, ReadFrame(shortBody, kLimit, &message));
  EXPECT_EQ("abc", message);  // what came, never the declared size

  // A huge declared length with nothing behind it: truncated, without the
  // declared 4 GiB ever being taken.
  ChoppedInput hugeHeader(Frame("", 0xFFFFFFFFu));
  EXPECT_EQ(ReadStatus::kTruncated, ReadFrame(hugeHeader, 0xFFFFFFFFu, &message));
  EXPECT_TRUE(message.empty());
  ChoppedInput hugeSkipped(Frame("ab", 0xFFFFFFFFu));
  EXPECT_EQ(ReadStatus::kTruncated, ReadFrame(hugeSkipped, kLimit, &message));
}

TEST(NativeFrame, WritesTheLengthInTheMachinesOrderAndRefusesOversizedMessages) {
  StringOutput out;
  EXPECT_EQ(WriteStatus::kWritten, WriteFrame(out, "{}", kLimit));
  EXPECT_EQ(Frame("{}"), out.bytes);
  EXPECT_EQ(WriteStatus::kWritten, WriteFrame(out, "", kLimit));
  EXPECT_EQ(Frame("{}") + Frame(""), out.bytes);
  EXPECT_EQ(WriteStatus::kWritten, WriteFrame(out, std::string(kLimit, 'z'), kLimit));
  const size_t before = out.bytes.size();
  EXPECT_EQ(WriteStatus::kTooLong, WriteFrame(out, std::string(kLimit + 1, 'z'), kLimit));
  EXPECT_EQ(before, out.bytes.size());  // nothing of it went out
  EXPECT_EQ(1024u * 1024u, kv::native::kMaxMessageToBrowser);
}

TEST(NativeFrame, LongAnswersGoInFramesWhoseTextsJoinToTheAnswer) {
  // Quotes, backslashes and three-byte characters cost more inside a frame's
  // text and must never be split.
  std::string answer = "{\"result\": \"";
  for (int i = 0; i < 300; ++i) answer += i % 3 ? "\\\"" : "\xe5\xa7\x94";
  answer += "\"}";
  constexpr uint32_t kFrame = 160;
  StringOutput out;
  ASSERT_EQ(WriteStatus::kWritten, kv::native::WriteAnswer(out, answer, "\"p-1\"", kFrame));

  ChoppedInput in(out.bytes);
  std::string frame, joined;
  int64_t parts = -1, seen = 0;
  while (ReadFrame(in, kFrame, &frame) == ReadStatus::kMessage) {
    kv::json::Value v;
    std::string error;
    ASSERT_TRUE(kv::json::Parse(frame, &v, &error)) << error << ": " << frame;
    EXPECT_EQ("p-1", v.Find("id")->Utf8());
    EXPECT_EQ(++seen, v.Find("part")->integer);
    if (parts < 0) parts = v.Find("parts")->integer;
    EXPECT_EQ(parts, v.Find("parts")->integer);
    joined += kv::Utf16ToUtf8(v.Find("text")->string);
  }
  EXPECT_EQ(parts, seen);
  EXPECT_GT(seen, 5);
  EXPECT_EQ(answer, joined);

  // One that fits goes as it is.
  StringOutput small;
  ASSERT_EQ(WriteStatus::kWritten, kv::native::WriteAnswer(small, "{}", "1", kFrame));
  EXPECT_EQ(Frame("{}"), small.bytes);
}

TEST(NativeFrame, FileDescriptorsCarryFramesAndAClosedPipeFailsTheWrite) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  kv::native::FdOutput out(fds[1]);
  EXPECT_EQ(WriteStatus::kWritten, WriteFrame(out, "{\"id\":1}"));
  close(fds[1]);
  kv::native::FdInput in(fds[0]);
  std::string message;
  EXPECT_EQ(ReadStatus::kMessage, ReadFrame(in, kLimit, &message));
  EXPECT_EQ("{\"id\":1}", message);
  EXPECT_EQ(ReadStatus::kEnd, ReadFrame(in, kLimit, &message));
  close(fds[0]);

  // The browser has gone: the write fails instead of killing the process.
  ASSERT_EQ(0, pipe(fds));
  close(fds[0]);
  void (*saved)(int) = std::signal(SIGPIPE, SIG_IGN);
  kv::native::FdOutput gone(fds[1]);
  EXPECT_EQ(WriteStatus::kClosed, WriteFrame(gone, "{}"));
  std::signal(SIGPIPE, saved);
  close(fds[1]);
}

}  // namespace
