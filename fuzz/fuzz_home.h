// Fuzz targets whose calls persist state (key containers, stores, registry
// values) run in a throw-away $KORVESSA_HOME, made once per process, so a
// fuzzing session never touches the user's own home.
#pragma once

#include <stdlib.h>

namespace kv::fuzz {

inline void UseThrowawayHome() {
  static const bool done = [] {
    char folder[] = "/tmp/korvessa-fuzz-XXXXXX";
    if (mkdtemp(folder)) setenv("KORVESSA_HOME", folder, 1);
    return true;
  }();
  (void)done;
}

}  // namespace kv::fuzz
