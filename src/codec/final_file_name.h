// The file a name finally stands for once symbolic links (and, on Windows,
// junctions) are followed. A file replaced by writing a temporary file and
// renaming it must be replaced there: renamed over a link, the rename would
// swap the link for a regular file and leave the real file as it was.
#pragma once

#include <string>

namespace kv {

// The name of the file that `path` (ANSI code page) names in the end. A name
// that names no existing file is its own final name. False, with the last
// error of the failing call, when the file exists but its name cannot be had.
bool FinalFileName(const std::string& path, std::string* finalName);

}  // namespace kv
