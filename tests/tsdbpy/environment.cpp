#include <memory>

#include "test_support.h"

namespace tsdbpy_testing {

namespace {

std::unique_ptr<PgCluster> the_cluster;
std::string start_failure;

class ClusterEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    try {
      the_cluster = std::make_unique<PgCluster>();
    } catch (const std::exception& e) {
      // Not fatal here: a fatal failure would skip the tests, and every one of
      // them is to fail with this message instead.
      start_failure = std::string("cannot start a throw-away PostgreSQL cluster: ") + e.what();
      ADD_FAILURE() << start_failure;
    }
  }
  void TearDown() override { the_cluster.reset(); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ClusterEnvironment);

}  // namespace

PgCluster& cluster() {
  if (!the_cluster) throw std::runtime_error(start_failure);
  return *the_cluster;
}

void DbTest::SetUp() {
  db_ = kDatabase;
  conn_ = tsdbpy::conn::get_conn(settings());
  query("TRUNCATE tsdata, tags, sources RESTART IDENTITY CASCADE");
}

std::string DbTest::query(const std::string& sql) const {
  PGconn* pg = cluster().raw_connect(db_);
  PGresult* res = PQexec(pg, sql.c_str());
  const ExecStatusType status = PQresultStatus(res);
  std::string out;
  if (status == PGRES_TUPLES_OK && PQntuples(res) > 0) out = PQgetvalue(res, 0, 0);
  const std::string error = PQresultErrorMessage(res);
  PQclear(res);
  PQfinish(pg);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) throw std::runtime_error(sql + ": " + error);
  return out;
}

}  // namespace tsdbpy_testing
