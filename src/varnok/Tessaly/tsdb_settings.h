#pragma once

#include "tsdbpy/conn.h"

namespace varnok::tessaly {

// The local database the services script starts: the viewer's, the
// recorder's and the launcher's default.
tsdbpy::conn::Settings default_tsdb_settings();

}  // namespace varnok::tessaly
