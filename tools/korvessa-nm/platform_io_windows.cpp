// Standard handles of the native host on Windows. The browsers start the
// host through cmd.exe with pipes for standard input and output; standard
// error may be no handle at all (a browser started from the desktop has
// none), in which case stray output goes to NUL.
#include "korvessa-nm/platform_io.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace korvessa {

int PrepareFrameStreams() {
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  int frames = _dup(1);
  if (frames < 0) return -1;
  _setmode(frames, _O_BINARY);
  if (_dup2(2, 1) != 0) {
    int nul = _open("NUL", _O_WRONLY | _O_BINARY);
    if (nul >= 0) {
      _dup2(nul, 1);
      _close(nul);
    }
  }
  // Code that writes to the process's standard handle directly, not through
  // the C runtime, follows it too.
  SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
  return frames;
}

}  // namespace korvessa
