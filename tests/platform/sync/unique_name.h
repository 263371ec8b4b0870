// Names of kernel objects that no other test process uses.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace kv::test {

// A name private to this process and test.
inline std::string UniqueName(const char* what) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string("kvtest.") + std::to_string(getpid()) + "." + (info ? info->name() : "none") + "." + what;
}

}  // namespace kv::test
