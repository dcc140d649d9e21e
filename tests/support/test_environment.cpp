// Suites read their data folders and the command line's path from the environment; the build
// fills in what the environment does not say.

#include <cstdlib>

namespace {
const bool gEnvironmentReady = [] {
  ::setenv("KESTRINE_TEST_DATA", KESTRINE_TEST_DATA_DIR, 0);
  ::setenv("KESTRINE_SHARED_DATA", KESTRINE_SHARED_DATA_DIR, 0);
  ::setenv("KESTRINE_CLI", KESTRINE_CLI_PATH, 0);
  return true;
}();
}  // namespace
