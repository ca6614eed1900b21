#pragma once

// Runs one of our programs through the shell, for tests of its command line:
// what it printed and how it exited.

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace varnok::testing {

struct ProgramRun {
  int exit_code = -1;  // -1: killed by a signal, or could not run
  std::string out;
};

// `command` is a shell command line; add " 2>&1" to catch standard error too.
inline ProgramRun run_command(const std::string& command) {
  ProgramRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace varnok::testing
