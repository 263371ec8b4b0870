// Helpers for the named-object tests: names no other test process uses, a
// lock folder of the test's own to find leftovers in, and running a piece of
// code in a forked child that reports through its exit status (gtest
// assertions cannot cross the fork).
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sync/unique_name.h"
#include "support/temp_home.h"
#include "sync/named_objects.h"

namespace kv::test {

// Points the user's lock folder at a fresh folder for the scope of the
// object, so whatever is left in it was left by the test.
class PrivateObjectFolder {
 public:
  PrivateObjectFolder() : env_("XDG_RUNTIME_DIR", home_.path().c_str()) {}
  std::string Folder() const { return home_.path() + "/korvessa"; }

  // The files left in the lock folder, and the memory objects of any kind
  // left for `names`.
  std::vector<std::string> Leftovers(const std::vector<std::string>& names) const {
    std::vector<std::string> left;
    if (DIR* dir = opendir(Folder().c_str())) {
      while (const dirent* entry = readdir(dir)) {
        const std::string file = entry->d_name;
        if (file != "." && file != "..") left.push_back(file);
      }
      closedir(dir);
    }
    for (const std::string& name : names) {
      for (const char* kind : {"section", "event", "mutex"}) {
        const std::string shm = "/dev/shm" + kv::platform::sync::ShmName(kind, name);
        struct stat st;
        if (stat(shm.c_str(), &st) == 0) left.push_back(shm);
      }
    }
    return left;
  }

 private:
  ScopedHome home_;
  ScopedEnv env_;
};

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
