#include "tsdb_settings.h"

#include "varnok/defaults.h"

namespace varnok::tessaly {

tsdbpy::conn::Settings default_tsdb_settings(const defaults::Addresses& where) {
  using namespace varnok::defaults;
  return {{"host", where.host},
          {"port", where.db_port},
          {"user", std::string(kDatabaseUser)},
          {"password", where.db_password},
          {"dbname", std::string(kDatabaseName)},
          {"autocommit", true}};
}

tsdbpy::conn::Settings default_tsdb_settings() {
  return default_tsdb_settings(defaults::addresses());
}

tsdbpy::conn::Settings recorder_tsdb_settings(const tsdbpy::conn::Settings& settings) {
  tsdbpy::conn::Settings out{{"connect_timeout", 3}, {"statement_timeout", 5}};
  out.insert(out.end(), settings.begin(), settings.end());
  return out;
}

}  // namespace varnok::tessaly
