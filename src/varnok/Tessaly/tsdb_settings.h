#pragma once

#include "tsdbpy/conn.h"

namespace varnok::tessaly {

// The local database the services script starts: the viewer's, the
// recorder's and the launcher's default.
tsdbpy::conn::Settings default_tsdb_settings();

// `settings` with the recorder's short time-outs in front (a later setting
// of the same keyword wins, so the caller's own stay): connecting 3 s, a
// statement 5 s, so that a database that drops packets is noticed quickly.
tsdbpy::conn::Settings recorder_tsdb_settings(const tsdbpy::conn::Settings& settings);

}  // namespace varnok::tessaly
