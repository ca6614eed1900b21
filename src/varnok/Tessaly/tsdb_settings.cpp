#include "tsdb_settings.h"

#include "varnok/defaults.h"

namespace varnok::tessaly {

tsdbpy::conn::Settings default_tsdb_settings() {
  using namespace varnok::defaults;
  return {{"host", std::string(kHost)},           {"port", kDatabasePort},
          {"user", std::string(kDatabaseUser)},   {"password", std::string(kDatabasePassword)},
          {"dbname", std::string(kDatabaseName)}, {"autocommit", true}};
}

}  // namespace varnok::tessaly
