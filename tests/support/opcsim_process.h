#pragma once

// Starts the real opcsim on free loopback ports for one test, and stops it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

namespace varnok::testing {

// A port that was free a moment ago (the kernel's pick for port 0).
inline int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

inline bool port_open(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

class OpcsimProcess {
 public:
  OpcsimProcess() : opcua_port_(free_port()), gateway_port_(free_port()) {
    // The kernel may hand out the same free port twice in a row.
    while (gateway_port_ == opcua_port_) gateway_port_ = free_port();
    state_dir_ = std::filesystem::temp_directory_path() / ("varnok-opcsim-test-" + std::to_string(getpid()));
    start();
  }
  ~OpcsimProcess() {
    kill_now();
    std::error_code ignored;
    std::filesystem::remove_all(state_dir_, ignored);
  }
  OpcsimProcess(const OpcsimProcess&) = delete;
  OpcsimProcess& operator=(const OpcsimProcess&) = delete;

  // Without history: the tests' opcsim must not reach for the default database.
  void start(const std::string& lease_ms = "1500") {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string opcua = std::to_string(opcua_port_);
      const std::string gateway = std::to_string(gateway_port_);
      execlp("node", "node", VARNOK_OPCSIM_ENTRY, "--host", "127.0.0.1", "--opcua-port", opcua.c_str(),
             "--gateway-port", gateway.c_str(), "--state-dir", state_dir_.c_str(), "--lease-ms",
             lease_ms.c_str(), "--no-history", static_cast<char*>(nullptr));
      _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(port_open(gateway_port_) && port_open(opcua_port_))) {
      if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("opcsim did not start");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  // SIGKILL: the gateway vanishes without a goodbye.
  void kill_now() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // SIGSTOP: a server that hangs. Connections are still accepted by the
  // kernel, and nothing answers until resume().
  void pause() {
    if (pid_ > 0) ::kill(pid_, SIGSTOP);
  }
  void resume() {
    if (pid_ > 0) ::kill(pid_, SIGCONT);
  }

  int gateway_port() const { return gateway_port_; }
  int opcua_port() const { return opcua_port_; }

 private:
  int opcua_port_;
  int gateway_port_;
  std::filesystem::path state_dir_;
  pid_t pid_ = -1;
};

}  // namespace varnok::testing
