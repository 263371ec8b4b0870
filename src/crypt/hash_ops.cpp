// The Hash and HashFile operations: the digest of a text or of a file's
// contents as upper-case hex.
//
// HashFile streams the file through the digest in fixed chunks, so files of
// any size (also 2 GiB and more, beyond a 32-bit length) are digested
// correctly without holding the file in memory.
#include <windows.h>
#include <shlwapi.h>

#include <cstring>
#include <string>

#include "codec/digests.h"
#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "ui/dialog_launch.h"

namespace {

constexpr DWORD kFileChunk = 1u << 20;

CDigestBuffer& ChooseDigest(LONG flags, CMd5Digest& md5, CSha1Digest& sha1, CSha256Digest& sha256,
                            CSha512Digest& sha512) {
  switch (kv::digest::AlgorithmFromHashFlags(flags)) {
    case kv::digest::Algorithm::kMd5: return md5;
    case kv::digest::Algorithm::kSha256: return sha256;
    case kv::digest::Algorithm::kSha512: return sha512;
    case kv::digest::Algorithm::kSha1:
    case kv::digest::Algorithm::kSha384: break;  // no Hash flag names SHA-384
  }
  return sha1;
}

}  // namespace

BSTR CCapiEngine::Hash(BSTR strPlainText, LONG dwFlags) {
  ResetError();
  std::string result;
  const UINT characters = strPlainText != nullptr ? SysStringLen(strPlainText) : 0;
  if (characters == 0) {
    Fail(ERR_BAD_PARAM);
  } else {
    std::string converted;
    const void* input = strPlainText;
    int32_t inputLength = static_cast<int32_t>(characters * sizeof(WCHAR));
    if (dwFlags & 0x10) {
      const int size = WideCharToMultiByte(CP_ACP, 0, strPlainText, -1, nullptr, 0, nullptr, nullptr);
      converted.assign(static_cast<size_t>(size > 0 ? size : 0) + 1, '\0');
      WideCharToMultiByte(CP_ACP, 0, strPlainText, -1, &converted[0], size, nullptr, nullptr);
      input = converted.data();
      inputLength = static_cast<int32_t>(std::strlen(converted.c_str()));
    }
    CMd5Digest md5;
    CSha1Digest sha1;
    CSha256Digest sha256;
    CSha512Digest sha512;
    CDigestBuffer& digest = ChooseDigest(dwFlags, md5, sha1, sha256, sha512);
    CByteBuffer hex;
    if (!digest.Compute(input, inputLength) || !hex.EncodeHex(digest.Data(), digest.Size())) {
      Fail(ERR_MEM_ALLOC);
    }
    result = hex.c_str();
  }
  SysFreeString(strPlainText);
  return kv::NarrowToBstr(result);
}

BSTR CCapiEngine::HashFile(BSTR strFileName, LONG dwFlags) {
  ResetError();
  std::string path = kv::TakeNarrow(strFileName);
  std::string result;
  do {
    if (path.empty()) {
      // No path: the user picks the file in the open-file dialog.
      const ErrorCode chosen = kv::ui::AskFileToHash(&path);
      if (chosen != ERR_SUCCESS) {
        Fail(chosen);
        break;
      }
    }
    if (!PathFileExistsA(path.c_str())) {
      Fail(ERR_FILE_NOT_FOUND);
      break;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      FailWithLastError(ERR_FILE_READ);
      break;
    }
    CByteBuffer chunk;
    if (!chunk.Allocate(static_cast<int32_t>(kFileChunk))) {
      CloseHandle(file);
      Fail(ERR_MEM_ALLOC);
      break;
    }
    kv::digest::Hasher hasher(kv::digest::AlgorithmFromHashFlags(dwFlags));
    uint64_t total = 0;
    bool readFailed = false;
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file, chunk.Data(), kFileChunk, &got, nullptr)) {
        FailWithLastError(ERR_FILE_READ);
        readFailed = true;
        break;
      }
      if (got == 0) break;
      hasher.Update(chunk.Data(), got);
      total += got;
    }
    CloseHandle(file);
    // An empty file is refused like an unreadable one.
    if (readFailed || total == 0) {
      Fail(ERR_FILE_READ);
      break;
    }
    uint8_t digest[kv::digest::kMaxDigestLength];
    hasher.Final(digest);
    CByteBuffer hex;
    if (!hex.EncodeHex(digest, static_cast<int32_t>(hasher.length()))) Fail(ERR_MEM_ALLOC);
    result = hex.c_str();
  } while (false);
  return kv::NarrowToBstr(result);
}
