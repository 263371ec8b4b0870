// The kernel object behind a file handle, and the process's record of open
// files that lets CreateFileA, DeleteFileA and MoveFileExA honour the share
// modes of the handles already open (within this process).
#pragma once

#include <sys/types.h>

#include <string>

#include "handles/handle_table.h"

namespace kv::platform {

class FileObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::File;

  // Takes ownership of `fd`. Only OpenFiles::Admit creates file objects, so
  // that the share check and the record of the new open are one step.
  FileObject(int fd, dev_t dev, ino_t ino, DWORD access, DWORD share, std::string path, bool deleteOnClose);
  ~FileObject() override;

  int fd() const { return fd_; }
  bool canRead() const;
  bool canWrite() const;
  bool appendOnly() const;

 private:
  int fd_;
  dev_t dev_;
  ino_t ino_;
  DWORD access_;
  DWORD share_;
  std::string path_;
  bool deleteOnClose_;

  friend class OpenFiles;
};

// Reduces generic rights to the specific file rights they stand for.
DWORD MapFileAccess(DWORD desiredAccess);

// True when the file at `posixPath` is open here without FILE_SHARE_DELETE,
// so deleting or renaming it must fail with ERROR_SHARING_VIOLATION.
bool OpenWithoutDeleteSharing(const std::string& posixPath);

}  // namespace kv::platform
