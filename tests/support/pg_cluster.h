#pragma once

// A throw-away PostgreSQL cluster for tests and benchmarks: initdb into a
// fresh directory under /tmp, a server on a free loopback port with
// scram-sha-256 password auth over TCP (user postgres, password plok9876),
// database tsdb_simulation. As root the server runs as the postgres system
// user, since PostgreSQL refuses root.
//
// A watchdog process stops the server and removes the directory when this
// process ends in any way (crash included), so no server outlives the tests.

#include <arpa/inet.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tsdbpy/conn.h"

namespace tsdbpy_testing {

inline constexpr const char* kPassword = "plok9876";
inline constexpr const char* kDatabase = "tsdb_simulation";

struct PgClusterOptions {
  // Off for tests (no fsync: quick); on for benchmarks (the real cost).
  bool durable = false;
};

class PgCluster {
 public:
  using Options = PgClusterOptions;

  explicit PgCluster(Options options = {}) : options_(options) {
    bin_ =
        std::getenv("VARNOK_PG_BIN") != nullptr ? std::getenv("VARNOK_PG_BIN") : "/usr/lib/postgresql/15/bin";
    if (access((bin_ + "/initdb").c_str(), X_OK) != 0 || access((bin_ + "/pg_ctl").c_str(), X_OK) != 0) {
      throw std::runtime_error("PostgreSQL server programs not found in " + bin_ +
                               " (install postgresql-15, see scripts/setup, or set VARNOK_PG_BIN)");
    }
    as_root_ = geteuid() == 0;
    if (as_root_) {
      const passwd* pw = getpwnam("postgres");
      if (pw == nullptr) throw std::runtime_error("running as root needs the postgres system user");
      uid_ = pw->pw_uid;
      gid_ = pw->pw_gid;
    }
    std::string templ = "/tmp/tsdbpy-pg-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr)
      throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    dir_ = templ;
    if (as_root_ && chown(dir_.c_str(), uid_, gid_) != 0) {
      throw std::runtime_error("chown " + dir_ + ": " + std::strerror(errno));
    }
    start_watchdog();
    init();
    start();
    create_database(kDatabase);
  }

  ~PgCluster() {
    try {
      stop();
    } catch (const std::exception&) {
      // The watchdog stops it the hard way.
    }
    if (watchdog_fd_ >= 0) close(watchdog_fd_);
    if (watchdog_pid_ > 0) waitpid(watchdog_pid_, nullptr, 0);
  }
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  // Starts the server on a free port (the same port again after stop()).
  void start() {
    if (running_) return;
    for (int attempt = 0;; ++attempt) {
      if (port_ == 0 || attempt > 0) port_ = free_port();
      std::string opts = "-p " + std::to_string(port_) + " -c listen_addresses=127.0.0.1" +
                         " -c unix_socket_directories=" + dir_;
      if (!options_.durable) opts += " -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
      if (run({bin_ + "/pg_ctl", "-D", dir_ + "/data", "-l", dir_ + "/server.log", "-w", "-t", "30", "-o",
               opts, "start"}) == 0) {
        running_ = true;
        return;
      }
      if (attempt == 2) throw std::runtime_error("PostgreSQL did not start:\n" + tail(dir_ + "/server.log"));
    }
  }

  // Fast shutdown: clients are disconnected.
  void stop() {
    resume();
    if (!running_) return;
    running_ = false;
    if (run({bin_ + "/pg_ctl", "-D", dir_ + "/data", "-m", "fast", "-w", "-t", "30", "stop"}) != 0) {
      throw std::runtime_error("PostgreSQL did not stop:\n" + tail(dir_ + "/server.log"));
    }
  }

  int port() const { return port_; }

  // Freezes the whole server (SIGSTOP to the postmaster and every process it
  // started), as a host that drops packets looks to its clients: connections
  // are accepted by the kernel and then nothing answers. resume() thaws it;
  // stop() and the destructor do so first.
  void pause() {
    if (!paused_.empty()) return;
    paused_ = server_processes();
    for (const pid_t pid : paused_) ::kill(pid, SIGSTOP);
  }
  void resume() {
    for (const pid_t pid : paused_) ::kill(pid, SIGCONT);
    paused_.clear();
  }

  tsdbpy::conn::Settings settings(const std::string& dbname = kDatabase) const {
    return {{"host", "127.0.0.1"},   {"port", port_},    {"user", "postgres"},
            {"password", kPassword}, {"dbname", dbname}, {"autocommit", true}};
  }

  // A raw libpq connection for checks that must not go through tsdbpy.
  PGconn* raw_connect(const std::string& dbname = kDatabase) const {
    const std::string port = std::to_string(port_);
    const char* keys[] = {"host", "port", "user", "password", "dbname", "connect_timeout", nullptr};
    const char* values[] = {"127.0.0.1", port.c_str(), "postgres", kPassword, dbname.c_str(), "10", nullptr};
    PGconn* pg = PQconnectdbParams(keys, values, 0);
    if (PQstatus(pg) != CONNECTION_OK) {
      const std::string message = PQerrorMessage(pg);
      PQfinish(pg);
      throw std::runtime_error("raw connection failed: " + message);
    }
    return pg;
  }

  void create_database(const std::string& name) const {
    PGconn* pg = raw_connect("postgres");
    char* ident = PQescapeIdentifier(pg, name.c_str(), name.size());
    const std::string sql = std::string("CREATE DATABASE ") + ident;
    PQfreemem(ident);
    PGresult* res = PQexec(pg, sql.c_str());
    const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
    const std::string message = PQresultErrorMessage(res);
    PQclear(res);
    PQfinish(pg);
    if (!ok) throw std::runtime_error("CREATE DATABASE " + name + ": " + message);
  }

 private:
  static int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      if (fd >= 0) close(fd);
      throw std::runtime_error("no free port: " + std::string(std::strerror(errno)));
    }
    close(fd);
    return ntohs(addr.sin_port);
  }

  void init() {
    const std::string pwfile = dir_ + "/pwfile";
    {
      std::ofstream out(pwfile);
      out << kPassword << '\n';
    }
    chmod(pwfile.c_str(), 0600);
    if (as_root_ && chown(pwfile.c_str(), uid_, gid_) != 0) throw std::runtime_error("chown " + pwfile);
    const int rc =
        run({bin_ + "/initdb", "-D", dir_ + "/data", "-U", "postgres", "--pwfile=" + pwfile,
             "--auth-host=scram-sha-256", "--auth-local=peer", "-E", "UTF8", "--locale=C", "--no-sync"},
            dir_ + "/initdb.log");
    std::filesystem::remove(pwfile);
    if (rc != 0) throw std::runtime_error("initdb failed:\n" + tail(dir_ + "/initdb.log"));
  }

  // Runs a PostgreSQL program (as postgres when root), bounded by timeout(1);
  // its output goes to `log`. Returns the exit status.
  int run(const std::vector<std::string>& command, const std::string& log = "/dev/null") const {
    std::vector<std::string> argv{"timeout", "60"};
    if (as_root_) argv.insert(argv.end(), {"runuser", "-u", "postgres", "--"});
    argv.insert(argv.end(), command.begin(), command.end());
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    if (pid == 0) {
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
      }
      const int null_in = open("/dev/null", O_RDONLY);
      if (null_in >= 0) dup2(null_in, STDIN_FILENO);
      execvp(args[0], args.data());
      _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }

  // The watchdog waits for this process's end of a pipe to close, then stops
  // the server at once and removes the directory.
  void start_watchdog() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    std::string stop = bin_ + "/pg_ctl -D " + dir_ + "/data -m immediate -w -t 30 stop >/dev/null 2>&1";
    if (as_root_) stop = "runuser -u postgres -- " + stop;
    // A server that a test froze (pause()) is thawed first, or it would
    // neither stop nor ever run again.
    const std::string pid_file = dir_ + "/data/postmaster.pid";
    const std::string thaw = "p=$(head -n 1 " + pid_file + ") && kill -CONT $p && pkill -CONT -P $p; ";
    const std::string script = "[ -f " + pid_file + " ] && { " + thaw + stop + "; }; rm -rf " + dir_;
    const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    if (pid == 0) {
      setsid();  // no terminal signals: it must outlive an interrupted test
      close(fds[1]);
      char byte;
      while (read(fds[0], &byte, 1) != 0 && errno == EINTR) {
      }
      execv(argv[0], const_cast<char* const*>(argv));
      _exit(127);
    }
    close(fds[0]);
    watchdog_fd_ = fds[1];
    watchdog_pid_ = pid;
  }

  // The postmaster and its children (none can be started while it is frozen).
  std::vector<pid_t> server_processes() const {
    std::ifstream pid_file(dir_ + "/data/postmaster.pid");
    pid_t postmaster = 0;
    if (!(pid_file >> postmaster) || postmaster <= 0) throw std::runtime_error("PostgreSQL is not running");
    std::vector<pid_t> out{postmaster};
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      if (!std::getline(stat, line)) continue;
      // pid (comm) state ppid ...; comm may hold blanks and parentheses.
      const auto close = line.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(line.substr(close + 1));
      char state = 0;
      pid_t ppid = 0;
      if (rest >> state >> ppid && ppid == postmaster) out.push_back(std::stoi(name));
    }
    return out;
  }

  static std::string tail(const std::string& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::ostringstream out;
    for (std::size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i)
      out << lines[i] << '\n';
    return out.str();
  }

  Options options_;
  std::string bin_;
  std::string dir_;
  bool as_root_ = false;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  int port_ = 0;
  bool running_ = false;
  int watchdog_fd_ = -1;
  pid_t watchdog_pid_ = -1;
  std::vector<pid_t> paused_;
};

}  // namespace tsdbpy_testing
