// The standard handles of the native host, made fit for frames.
#pragma once

namespace korvessa {

// Makes standard input and output carry frames byte for byte (binary mode
// on Windows, where a browser's pipes would otherwise turn "\n" into
// "\r\n"; on Linux a browser that goes away is a failed write, not
// SIGPIPE), and gives the frames standard output to themselves: the
// returned descriptor is a copy of it, and the process's standard output
// then goes to standard error, so a library's stray line cannot land inside
// a frame. -1 when standard output cannot be copied.
int PrepareFrameStreams();

}  // namespace korvessa
