// Opening connections, the schema, and how failures and lost servers show.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "test_support.h"
#include "tsdbpy/tsdbpy.h"

namespace tsdbpy_testing {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using tsdbpy::conn::ConnectError;
using tsdbpy::conn::get_conn;
using tsdbpy::conn::Settings;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The message of the ConnectError that get_conn throws for `settings`.
std::string connect_failure(const Settings& settings) {
  try {
    get_conn(settings);
  } catch (const ConnectError& e) {
    return e.what();
  }
  ADD_FAILURE() << "get_conn succeeded";
  return {};
}

Settings with(Settings settings, const std::string& key, const std::string& value) {
  settings.emplace_back(key, value);
  return settings;
}

// A loopback port that accepts TCP connections and never says a word.
class SilentListener {
 public:
  SilentListener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd_, 8) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      throw std::runtime_error("cannot listen");
    }
    port_ = ntohs(addr.sin_port);
  }
  ~SilentListener() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST(Schema, FirstConnectionCreatesItAndLaterOnesKeepItAndItsData) {
  cluster().create_database("schema_once");
  {
    auto conn = get_conn(cluster().settings("schema_once"));
    tsdbpy::tag::TagInfo tag{.tag_name = "kept"};
    ASSERT_TRUE(tsdbpy::tag::insert_new_tag(conn, tag).ok);
  }
  PGconn* pg = cluster().raw_connect("schema_once");
  PGresult* res = PQexec(pg,
                         "SELECT 'tags'::regclass::oid, pg_get_indexdef('tsdata_tag_ts_idx'::regclass),"
                         " to_regclass('sources') IS NOT NULL");
  ASSERT_EQ(PQresultStatus(res), PGRES_TUPLES_OK) << PQresultErrorMessage(res);
  const std::string tags_oid = PQgetvalue(res, 0, 0);
  EXPECT_THAT(PQgetvalue(res, 0, 1), HasSubstr("(tag_id, ts)"));
  EXPECT_STREQ(PQgetvalue(res, 0, 2), "t");
  PQclear(res);

  auto again = get_conn(cluster().settings("schema_once"));
  EXPECT_TRUE(tsdbpy::tag::get_tag(again, "kept").has_value());
  res = PQexec(pg, "SELECT 'tags'::regclass::oid");
  EXPECT_EQ(tags_oid, PQgetvalue(res, 0, 0)) << "the second connection re-created the table";
  PQclear(res);
  PQfinish(pg);
}

TEST(Schema, SimultaneousFirstConnectionsAllSucceed) {
  cluster().create_database("schema_race");
  const auto settings = cluster().settings("schema_race");
  std::vector<std::string> errors(6);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < errors.size(); ++i) {
    threads.emplace_back([&, i] {
      try {
        get_conn(settings);
      } catch (const std::exception& e) {
        errors[i] = e.what();
      }
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& e : errors) EXPECT_EQ(e, "");
}

TEST(GetConn, WrongPasswordFailsWithTheServersMessage) {
  const auto message = connect_failure(with(cluster().settings(), "password", "wrong"));
  EXPECT_THAT(message, HasSubstr("password authentication failed"));
}

TEST(GetConn, ClosedPortFailsAtOnceWithLibpqsMessage) {
  int port = 0;
  {
    const SilentListener listener;  // a port nobody else holds, closed again below
    port = listener.port();
  }
  auto settings = cluster().settings();
  settings.emplace_back("port", port);
  settings.emplace_back("connect_timeout", 2.0);  // as the launcher passes it
  const auto t0 = Clock::now();
  EXPECT_THAT(connect_failure(settings), HasSubstr("Connection refused"));
  EXPECT_LT(seconds_since(t0), 1.0);
}

TEST(GetConn, SilentServerFailsWithinTheConnectTimeout) {
  const SilentListener silent;
  auto settings = cluster().settings();
  settings.emplace_back("port", silent.port());
  settings.emplace_back("connect_timeout", "1.5");
  const auto t0 = Clock::now();
  EXPECT_THAT(connect_failure(settings), HasSubstr("timeout expired"));
  const double took = seconds_since(t0);
  EXPECT_GT(took, 1.4);
  EXPECT_LT(took, 2.5);
}

TEST(GetConn, RefusesBadSettingsWithTheirNames) {
  const auto base = cluster().settings();
  EXPECT_THAT(connect_failure(with(base, "autocommit", "perhaps")), HasSubstr("autocommit"));
  for (const char* bad : {"0", "-1", "abc", "nan", "2s", ""}) {
    EXPECT_THAT(connect_failure(with(base, "connect_timeout", bad)), HasSubstr("connect_timeout")) << bad;
  }
  EXPECT_THAT(connect_failure(with(base, "statement_timeout", "0")), HasSubstr("statement_timeout"));
  EXPECT_THAT(connect_failure(with(base, "colour", "blue")), HasSubstr("invalid connection option"));
}

TEST(GetConn, DatabaseNameIsNeverReadAsAConnectionString) {
  // Were the name expanded, this would connect to another port (and hang).
  const auto message = connect_failure(with(cluster().settings(), "dbname", "tsdb_simulation port=1"));
  EXPECT_THAT(message, HasSubstr("does not exist"));
}

TEST(GetConn, ConnectionWithoutAutocommitStillCommitsEveryCall) {
  cluster().create_database("no_autocommit");
  {
    auto conn = get_conn(with(cluster().settings("no_autocommit"), "autocommit", "False"));
    EXPECT_FALSE(conn.autocommit());
    tsdbpy::tag::TagInfo tag{.tag_name = "committed"};
    ASSERT_TRUE(tsdbpy::tag::insert_new_tag(conn, tag).ok);
    const int id = *tag.tag_id;
    const double value = 1.5;
    ASSERT_TRUE(tsdbpy::tsdata::write_tsdata(conn, {&id, 1}, {&value, 1}).ok);
    // Left open: what a reader elsewhere sees now must already be stored.
    auto reader = get_conn(cluster().settings("no_autocommit"));
    EXPECT_TRUE(tsdbpy::tag::get_tag(reader, "committed").has_value());
    EXPECT_EQ(tsdbpy::tsdata::read_tsdata(reader, id, {}, tsdbpy::tsdata::TimePoint::max()).size(), 1u);
  }
}

TEST_F(DbTest, ClosedAndMovedFromConnectionsRefuseCallsCleanly) {
  auto moved = std::move(conn_);
  EXPECT_FALSE(conn_);
  EXPECT_FALSE(conn_.broken());
  EXPECT_TRUE(moved);
  moved.close();
  moved.close();
  for (auto* conn : {&conn_, &moved}) {
    EXPECT_FALSE(*conn);
    tsdbpy::tag::TagInfo tag{.tag_name = "x"};
    const auto inserted = tsdbpy::tag::insert_new_tag(*conn, tag);
    EXPECT_FALSE(inserted.ok);
    EXPECT_THAT(inserted.error, HasSubstr("closed"));
    EXPECT_FALSE(tag.tag_id.has_value());
    const int id = 1;
    const double value = 0;
    EXPECT_FALSE(tsdbpy::tsdata::write_tsdata(*conn, {&id, 1}, {&value, 1}).ok);
    EXPECT_THROW(tsdbpy::tag::get_tag(*conn, "x"), tsdbpy::Error);
    EXPECT_THROW(tsdbpy::source::get_sources(*conn), tsdbpy::Error);
  }
}

class LostServer : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    conn_ = get_conn(with(settings(), "statement_timeout", "0.5"));
    tsdbpy::tag::TagInfo tag{.tag_name = "T"};
    ASSERT_TRUE(tsdbpy::tag::insert_new_tag(conn_, tag).ok);
    tag_id_ = *tag.tag_id;
  }
  tsdbpy::Result write_one() {
    const double value = 42;
    return tsdbpy::tsdata::write_tsdata(conn_, {&tag_id_, 1}, {&value, 1});
  }

  int tag_id_ = 0;
};

TEST_F(LostServer, StatementTimeoutEndsACallBlockedByALockAndTheConnectionLivesOn) {
  PGconn* locker = cluster().raw_connect(db_);
  PQclear(PQexec(locker, "BEGIN; LOCK TABLE tsdata IN ACCESS EXCLUSIVE MODE"));
  const auto t0 = Clock::now();
  const auto blocked = write_one();
  const double took = seconds_since(t0);
  PQclear(PQexec(locker, "COMMIT"));
  PQfinish(locker);
  EXPECT_FALSE(blocked.ok);
  EXPECT_THAT(blocked.error, HasSubstr("statement timeout"));
  EXPECT_LT(took, 1.5);
  EXPECT_TRUE(conn_);
  EXPECT_TRUE(write_one().ok);
}

TEST_F(LostServer, FrozenServerIsGivenUpAndTheConnectionTurnsBroken) {
  const pid_t backend = PQbackendPID(conn_.native_handle());
  ASSERT_EQ(kill(backend, SIGSTOP), 0);
  const auto t0 = Clock::now();
  const auto frozen = write_one();
  const double took = seconds_since(t0);
  kill(backend, SIGCONT);
  EXPECT_FALSE(frozen.ok);
  EXPECT_THAT(frozen.error, HasSubstr("no answer"));
  EXPECT_GT(took, 2.4);  // statement_timeout + 2 s
  EXPECT_LT(took, 3.5);
  EXPECT_FALSE(conn_);
  EXPECT_TRUE(conn_.broken());
  EXPECT_FALSE(write_one().ok);
}

TEST_F(LostServer, RestartedServerBreaksTheConnectionAndANewOneWorks) {
  cluster().stop();
  const auto during = write_one();
  EXPECT_FALSE(during.ok);
  EXPECT_FALSE(during.error.empty());
  EXPECT_FALSE(conn_);
  EXPECT_TRUE(conn_.broken());
  EXPECT_THROW(get_conn(settings()), ConnectError);
  cluster().start();
  EXPECT_TRUE(conn_.broken()) << "a broken connection stays broken";
  conn_ = get_conn(settings());
  EXPECT_TRUE(conn_);
  EXPECT_FALSE(conn_.broken());
  EXPECT_TRUE(write_one().ok);
}

}  // namespace
}  // namespace tsdbpy_testing
