#pragma once

// The whole client: connections, sources, tags and recorded values.

#include "tsdbpy/conn.h"
#include "tsdbpy/error.h"
#include "tsdbpy/source.h"
#include "tsdbpy/tag.h"
#include "tsdbpy/tsdata.h"
