#pragma once

// A server program run for a test: started with its arguments, considered
// up once it prints `ready_text` on standard output, killed (by its pid)
// when the object goes.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace hublet::testing {

class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, std::string ready_text,
               std::chrono::seconds limit = std::chrono::seconds(60)) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
      // Goes with the test program even when that one dies without cleaning up.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(out[1], STDOUT_FILENO);
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string seen;
    while (seen.find(ready_text) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{out_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        stop();
        throw std::runtime_error(argv.at(1) + " did not start; output: " + seen);
      }
      char buf[512];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) {
        stop();
        throw std::runtime_error(argv.at(1) + " ended before it was ready; output: " + seen);
      }
      seen.append(buf, static_cast<std::size_t>(n));
    }
  }
  ~ChildProcess() { stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (out_ >= 0) close(out_);
    out_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

}  // namespace hublet::testing
