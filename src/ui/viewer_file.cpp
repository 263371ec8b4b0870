// The viewer's "temp.cer": a private folder, a fresh file, removal at exit.
#include "ui/viewer_file.h"

#include <mutex>
#include <set>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

#include "ui/dialog_texts.h"

namespace kv::ui {
namespace {

// Files this process left for the viewer; removed when the process ends, as
// the last use of the module goes.
class ViewerFiles {
 public:
  static ViewerFiles& Instance() {
    static ViewerFiles files;
    return files;
  }
  void Remember(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.insert(path);
  }
  ~ViewerFiles() {
    for (const std::string& path : paths_) DeleteFileA(path.c_str());
  }

 private:
  std::mutex mutex_;
  std::set<std::string> paths_;
};

#ifndef _WIN32
// The ANSI form of a UTF-8 path, for the file calls.
std::string Utf8ToAnsiPath(const std::string& utf8) {
  int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, nullptr, 0);
  if (wide <= 0) return {};
  std::u16string units(static_cast<size_t>(wide), u'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, reinterpret_cast<LPWSTR>(&units[0]), wide);
  BOOL lossy = FALSE;
  int narrow = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(units.c_str()), -1, nullptr, 0, nullptr,
                                   &lossy);
  if (narrow <= 0 || lossy) return {};
  std::string ansi(static_cast<size_t>(narrow), '\0');
  WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(units.c_str()), -1, &ansi[0], narrow, nullptr, nullptr);
  ansi.resize(static_cast<size_t>(narrow - 1));
  return ansi;
}
#endif

}  // namespace

std::string PrivateTempFolder() {
#ifdef _WIN32
  // The user's temporary folder is already the user's own on Windows.
  char folder[MAX_PATH + 1] = {0};
  DWORD n = GetTempPathA(MAX_PATH, folder);
  if (n == 0 || n > MAX_PATH) return {};
  std::string path(folder, n);
  if (path.back() != '\\' && path.back() != '/') path += '\\';
  return path;
#else
  // $TMPDIR (default /tmp) is shared by every user: a folder of our own in
  // it, made 0700. One that exists must be a real folder of ours, not a link
  // or someone else's folder planted at the name.
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string folder = base + "/korvessa-view-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0) {
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return {};
    if ((st.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) return {};
  }
  std::string ansi = Utf8ToAnsiPath(folder);
  return ansi.empty() ? ansi : ansi + "/";
#endif
}

std::string WriteViewerFile(const std::vector<BYTE>& der) {
  std::string folder = PrivateTempFolder();
  if (folder.empty() || der.empty() || der.size() > 0x7FFFFFFF) return {};
  std::string path = folder + text::kTempCertName;
  // A fresh file: whatever has the name now (an older view, a link) goes,
  // and CREATE_NEW refuses to follow a link that appears meanwhile.
  DeleteFileA(path.c_str());
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  ViewerFiles::Instance().Remember(path);
  DWORD written = 0;
  BOOL ok = WriteFile(file, der.data(), static_cast<DWORD>(der.size()), &written, nullptr) &&
            written == der.size();
  ok = CloseHandle(file) && ok;
  if (!ok) {
    DeleteFileA(path.c_str());
    return {};
  }
  return path;
}

}  // namespace kv::ui
