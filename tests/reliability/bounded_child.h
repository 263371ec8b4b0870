// Runs a piece of a test in a forked child with a deadline, so a call that
// would hang (a FIFO opened for reading, an endless device) fails the test
// instead of stalling the whole suite.
#pragma once

#include <functional>
#include <string>

namespace kv::test {

// Runs `body` in a child process and returns the text it produced, or
// "<timeout>" when it did not finish within `seconds` (the child is then
// killed), or "<crash>" when it died.
std::string RunBounded(const std::function<std::string()>& body, int seconds = 5);

}  // namespace kv::test
