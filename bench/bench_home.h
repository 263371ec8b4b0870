// A throw-away $KORVESSA_HOME for one benchmark: the tests' own scoped home
// (the stores, key containers, records and files a benchmark leaves behind
// go with it, and the previous value of the variable comes back).
#pragma once

#include <string>

#include "support/scoped_home.h"

namespace kv::bench {

class BenchHome : public kv::test::ScopedHome {
 public:
  bool ok() const { return !path().empty(); }
  const std::string& folder() const { return path(); }
};

}  // namespace kv::bench
