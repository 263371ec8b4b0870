// Case folding and path splitting for registry names.
#include "registry/registry_text.h"

namespace kv::platform::registry {

namespace {

char16_t FoldChar(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);  // Latin-1
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);  // Greek
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);  // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);  // full-width Latin
  return c;
}

}  // namespace

std::u16string FoldName(const std::u16string& name) {
  std::u16string out(name);
  for (auto& c : out) c = FoldChar(c);
  return out;
}

bool SplitKeyPath(const std::u16string& path, std::vector<std::u16string>* parts) {
  parts->clear();
  size_t begin = 0;
  size_t end = path.size();
  if (begin < end && path[begin] == u'\\') ++begin;
  if (end > begin && path[end - 1] == u'\\') --end;
  if (begin == end) return true;
  size_t pos = begin;
  while (true) {
    size_t next = path.find(u'\\', pos);
    if (next == std::u16string::npos || next > end) next = end;
    if (next == pos) return false;
    parts->push_back(path.substr(pos, next - pos));
    if (next == end) break;
    pos = next + 1;
  }
  return true;
}

}  // namespace kv::platform::registry
