// Test fixture support: every test runs with its own empty $KORVESSA_HOME,
// removed afterwards, so no test sees another's stores, keys or registry.
#pragma once

#include <gtest/gtest.h>

#include "support/scoped_home.h"

namespace kv::test {

// Base fixture: a fresh home per test.
class HomeTest : public ::testing::Test {
 protected:
  ScopedHome home_;
};

}  // namespace kv::test
