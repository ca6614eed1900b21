#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <string>

#include "pg_cluster.h"
#include "tsdbpy/conn.h"

namespace tsdbpy_testing {

// The test program's cluster, started before the first test.
PgCluster& cluster();

// Each test starts from empty tables in the cluster's database, with a
// connection to it.
class DbTest : public ::testing::Test {
 protected:
  void SetUp() override;

  tsdbpy::conn::Settings settings() const { return cluster().settings(db_); }
  // First field of the first row of `sql`, run outside tsdbpy; "" when no row.
  std::string query(const std::string& sql) const;

  std::string db_;
  tsdbpy::conn::Connection conn_;
};

}  // namespace tsdbpy_testing
