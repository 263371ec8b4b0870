// Forked, deadline-bounded runs for tests of calls that could hang.
#include "reliability/bounded_child.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace kv::test {

std::string RunBounded(const std::function<std::string()>& body, int seconds) {
  int fds[2];
  if (pipe(fds) != 0) return "<pipe>";
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return "<fork>";
  if (pid == 0) {
    close(fds[0]);
    std::string out = body();
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  bool timedOut = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    struct pollfd p = {fds[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[512];
    ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (timedOut) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (timedOut) return "<timeout>";
  if (!WIFEXITED(status)) return "<crash>";
  return out;
}

}  // namespace kv::test
