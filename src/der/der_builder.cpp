// DER writing: lengths patched as each element closes, SET OF sorted.
#include "der/der_builder.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kv::der {
namespace {

// Bytes a definite length takes after its first byte.
int ExtraLengthBytes(size_t size) {
  int n = 0;
  if (size >= 0x80)
    for (size_t v = size; v; v >>= 8) ++n;
  return n;
}

// Writes the length of `size` at `at`, which has room for 1 + extra bytes.
void WriteLength(BYTE* at, size_t size, int extra) {
  if (extra == 0) {
    at[0] = static_cast<BYTE>(size);
    return;
  }
  at[0] = static_cast<BYTE>(0x80 | extra);
  for (int i = extra; i > 0; --i, size >>= 8) at[i] = static_cast<BYTE>(size & 0xFF);
}

}  // namespace

void Builder::Open(uint8_t tag) {
  out_.push_back(tag);
  open_.push_back({out_.size(), false});
  out_.push_back(0);
}

void Builder::OpenSetOf(uint8_t tag) {
  Open(tag);
  open_.back().sorted = true;
}

void Builder::Close() {
  if (open_.empty()) {
    failed_ = true;
    return;
  }
  OpenElement element = open_.back();
  open_.pop_back();
  const size_t contentAt = element.lengthAt + 1;
  if (element.sorted) SortElements(contentAt);
  const size_t size = out_.size() - contentAt;
  const int extra = ExtraLengthBytes(size);
  if (extra) {
    out_.insert(out_.begin() + static_cast<std::ptrdiff_t>(contentAt), static_cast<size_t>(extra), 0);
  }
  WriteLength(out_.data() + element.lengthAt, size, extra);
}

void Builder::SortElements(size_t from) {
  Span content(out_.data() + from, out_.size() - from);
  std::vector<Bytes> elements;
  while (!content.empty()) {
    uint8_t tag;
    Span value, whole;
    if (!content.ReadAny(&tag, &value, &whole)) {
      failed_ = true;
      return;
    }
    elements.push_back(whole.ToVector());
  }
  std::sort(elements.begin(), elements.end());
  out_.resize(from);
  for (const Bytes& e : elements) out_.insert(out_.end(), e.begin(), e.end());
}

void Builder::Add(uint8_t tag, const BYTE* content, size_t size) {
  const int extra = ExtraLengthBytes(size);
  const size_t at = out_.size();
  out_.resize(at + 2 + static_cast<size_t>(extra) + size);
  out_[at] = tag;
  WriteLength(out_.data() + at + 1, size, extra);
  if (size) std::memcpy(out_.data() + at + 2 + extra, content, size);
}

void Builder::AddEncoded(const BYTE* encoded, size_t size) {
  if (size) out_.insert(out_.end(), encoded, encoded + size);
}

bool Builder::AddOid(const char* dotted) {
  Bytes content;
  if (!dotted || !TextToOid(dotted, &content)) {
    failed_ = true;
    return false;
  }
  Add(kOid, content);
  return true;
}

void Builder::AddUnsignedInteger(const BYTE* bigEndian, size_t size) {
  while (size > 1 && bigEndian[0] == 0) {
    ++bigEndian;
    --size;
  }
  Open(kInteger);
  if (size == 0 || (bigEndian[0] & 0x80)) out_.push_back(0);
  AddEncoded(bigEndian, size);
  Close();
}

void Builder::AddBitString(const BYTE* bytes, size_t size, BYTE unusedBits) {
  Open(kBitString);
  out_.push_back(static_cast<BYTE>(unusedBits & 7));
  AddEncoded(bytes, size);
  Close();
}

void Builder::AddSmallInteger(DWORD value) {
  const BYTE be[4] = {static_cast<BYTE>(value >> 24), static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 8),
                      static_cast<BYTE>(value)};
  AddUnsignedInteger(be, 4);
}

bool Builder::Finish(Bytes* out) {
  const bool ok = !failed_ && open_.empty();
  if (ok) *out = std::move(out_);
  out_.clear();
  open_.clear();
  failed_ = false;
  return ok;
}

}  // namespace kv::der
