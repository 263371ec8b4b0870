// Standard handles of the native host on Linux.
#include "korvessa-nm/platform_io.h"

#include <unistd.h>

#include <csignal>

namespace korvessa {

int PrepareFrameStreams() {
  // A browser that goes away closes the pipe: that is a failed write here,
  // and the end of the connection.
  std::signal(SIGPIPE, SIG_IGN);
  int frames = dup(1);
  if (frames < 0 || dup2(2, 1) < 0) return -1;
  return frames;
}

}  // namespace korvessa
