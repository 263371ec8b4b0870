// GetFileVersionInfoSizeA, GetFileVersionInfoA and VerQueryValueA over the
// version record the build embeds (version_record.h). The module that asks
// about its own file is answered from memory; any other file is searched for
// a record on disk, as Windows reads the resource from the file.
#include <windows.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/modules.h"
#include "kernel/posix_error.h"
#include "kernel/posix_path.h"
#include "kernel/version_record.h"

namespace {

using kv::platform::PathErrorFromErrno;

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool HasSeparator(const std::string& name) { return name.find('/') != std::string::npos; }

// The version record of the named file, or false with the Windows error.
bool ReadRecord(LPCSTR fileName, std::vector<uint8_t>* record) {
  std::string path;
  if (!kv::platform::ToPosixPath(fileName, &path)) return false;
  // A bare module name is looked for among the loaded modules first, as the
  // Windows loader's search would find a loaded DLL.
  std::string loaded;
  if (!HasSeparator(path) && kv::platform::FindLoadedModuleFile(path, &loaded)) path = loaded;

  std::string self;
  if (kv::platform::ModuleFileOfAddress(kv::platform::EmbeddedVersionRecord(), &self) && SameFile(path, self)) {
    const uint8_t* r = kv::platform::EmbeddedVersionRecord();
    record->assign(r, r + kv::platform::EmbeddedVersionRecordSize());
    return true;
  }

  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(PathErrorFromErrno(errno, path));
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return false;
  }
  bool found = false;
  if (st.st_size > 0) {
    size_t size = static_cast<size_t>(st.st_size);
    void* image = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (image != MAP_FAILED) {
      size_t offset = 0, length = 0;
      const auto* bytes = static_cast<const uint8_t*>(image);
      if (kv::platform::FindVersionRecord(bytes, size, &offset, &length)) {
        record->assign(bytes + offset, bytes + offset + length);
        found = true;
      }
      munmap(image, size);
    }
  }
  close(fd);
  if (!found) SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return found;
}

// The block handed to callers is the record followed by an equal-sized area
// where VerQueryValueA leaves ANSI copies of string values, each at the same
// offset as its UTF-16 original (a UTF-16 text of n units never needs more
// than 2n bytes in a double-byte code page).
DWORD BlockSize(size_t recordLength) { return static_cast<DWORD>(recordLength * 2 + 4); }

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

size_t Align4(size_t v) { return (v + 3) & ~static_cast<size_t>(3); }

struct Node {
  size_t start = 0;   // offset of the block
  size_t length = 0;  // wLength
  size_t valueLength = 0;
  bool text = false;
  std::u16string key;
  size_t valueAt = 0;
  size_t childrenAt = 0;
};

// Reads the block at `start`, within [start, limit). False when malformed.
bool ReadNode(const uint8_t* base, size_t start, size_t limit, Node* node) {
  if (start + 6 > limit) return false;
  node->start = start;
  node->length = Word(base + start);
  node->valueLength = Word(base + start + 2);
  node->text = Word(base + start + 4) == 1;
  if (node->length < 6 || start + node->length > limit) return false;
  size_t end = start + node->length;
  size_t p = start + 6;
  node->key.clear();
  for (;;) {
    if (p + 2 > end) return false;
    char16_t c = Word(base + p);
    p += 2;
    if (!c) break;
    node->key += c;
  }
  node->valueAt = Align4(p);
  size_t valueBytes = node->text ? node->valueLength * 2 : node->valueLength;
  if (node->valueAt + valueBytes > end) {
    // A block with no room for its value is only acceptable without one.
    if (valueBytes) return false;
    node->valueAt = end;
  }
  node->childrenAt = Align4(node->valueAt + valueBytes);
  return true;
}

bool SameKey(const std::u16string& key, const std::string& part) {
  if (key.size() != part.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    char16_t a = key[i];
    char b = part[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != static_cast<unsigned char>(b)) return false;
  }
  return true;
}

}  // namespace

extern "C" DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
  if (lpdwHandle) *lpdwHandle = 0;
  std::vector<uint8_t> record;
  if (!ReadRecord(lptstrFilename, &record)) return 0;
  return BlockSize(record.size());
}

extern "C" BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
  if (!lpData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<uint8_t> record;
  if (!ReadRecord(lptstrFilename, &record)) return FALSE;
  // A shorter block would leave VerQueryValueA reading past the caller's
  // memory; the size from GetFileVersionInfoSizeA is always enough.
  DWORD needed = BlockSize(record.size());
  if (dwLen < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* block = static_cast<uint8_t*>(lpData);
  std::memcpy(block, record.data(), record.size());
  std::memset(block + record.size(), 0, needed - record.size());
  return TRUE;
}

extern "C" BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
  if (!pBlock || !lpSubBlock || !lplpBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* base = static_cast<uint8_t*>(const_cast<void*>(pBlock));
  Node node;
  if (!ReadNode(base, 0, Word(base), &node)) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  const size_t recordLength = node.length;
  // Walk the path one key at a time; '\\' separates keys, and an empty path
  // or "\\" names the root with its fixed file information.
  std::string path(lpSubBlock);
  size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '\\') ++i;
    if (i >= path.size()) break;
    size_t next = path.find('\\', i);
    std::string part = path.substr(i, next == std::string::npos ? std::string::npos : next - i);
    i = next == std::string::npos ? path.size() : next;
    size_t child = node.childrenAt;
    size_t end = node.start + node.length;
    bool found = false;
    Node candidate;
    while (child < end && ReadNode(base, child, end, &candidate)) {
      if (SameKey(candidate.key, part)) {
        found = true;
        break;
      }
      child = Align4(child + candidate.length);
    }
    if (!found) {
      SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
      return FALSE;
    }
    node = candidate;
  }
  if (node.valueLength == 0) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  if (!node.text) {
    *lplpBuffer = base + node.valueAt;
    if (puLen) *puLen = static_cast<UINT>(node.valueLength);
    return TRUE;
  }
  // Text: an ANSI copy in the mirror area, zero-terminated.
  size_t units = node.valueLength;
  std::u16string wide(units, u'\0');
  std::memcpy(&wide[0], base + node.valueAt, units * 2);
  auto* ansi = reinterpret_cast<char*>(base + recordLength + 4 + node.valueAt);
  int room = static_cast<int>(units * 2);
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(units), ansi, room, nullptr, nullptr);
  if (n <= 0) return FALSE;
  ansi[n - 1] = '\0';
  *lplpBuffer = ansi;
  if (puLen) *puLen = static_cast<UINT>(n);
  return TRUE;
}
