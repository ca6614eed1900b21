#pragma once

#include "tsdbpy/conn.h"
#include "varnok/defaults.h"

namespace varnok::tessaly {

// The database the services script starts on `where`'s host and database
// port, with `where`'s password: the viewer's, the recorder's and the
// launcher's default.
tsdbpy::conn::Settings default_tsdb_settings(const defaults::Addresses& where);

// The same for the environment's addresses (defaults::addresses()); throws
// UsageError as that does.
tsdbpy::conn::Settings default_tsdb_settings();

// `settings` with the recorder's short time-outs in front (a later setting
// of the same keyword wins, so the caller's own stay): connecting 3 s, a
// statement 5 s, so that a database that drops packets is noticed quickly.
tsdbpy::conn::Settings recorder_tsdb_settings(const tsdbpy::conn::Settings& settings);

}  // namespace varnok::tessaly
