// Helpers for the named-object tests: names no other test process uses, and
// running a piece of code in a forked child that reports through its exit
// status (gtest assertions cannot cross the fork).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace kv::test {

// A name private to this process and test.
inline std::string UniqueName(const char* what) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string("kvtest.") + std::to_string(getpid()) + "." + (info ? info->name() : "none") + "." + what;
}

// Waits for `child` and returns its exit code (-1 when it did not exit).
inline int WaitChild(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `body` in a child process; the child's exit code is body's result.
template <class Body>
int RunInChild(Body body) {
  fflush(nullptr);
  pid_t child = fork();
  if (child == 0) _exit(body());
  return child < 0 ? -1 : WaitChild(child);
}

}  // namespace kv::test
