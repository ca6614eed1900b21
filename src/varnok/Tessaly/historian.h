#pragma once

// Where the recorder stores polls: the time-series database (TsdbHistorian)
// or, in tests, a fake.

#include <span>
#include <string>
#include <vector>

#include "poll_queue.h"
#include "tsdbpy/error.h"

namespace varnok::tessaly {

// Used from the recorder's thread only, except interrupt().
class Historian {
 public:
  virtual ~Historian() = default;

  // Connects and finds, or registers, one tag per node id (in node order).
  // Throws std::exception with the reason when the database cannot be
  // reached or refuses; the historian is closed then.
  virtual void open(const std::vector<std::string>& node_ids) = 0;
  // While open: finds, or registers, one tag per node id of nodes found
  // since, which follow those of open() and of earlier calls (a poll's node
  // k is the k-th id of them all). Throws like open(), and closes then.
  virtual void add(const std::vector<std::string>& node_ids) = 0;
  // Stores the polls, each value at its poll's time, all or nothing; values
  // of nodes without a tag are skipped. ok false with the reason when
  // nothing was stored; the historian is closed then and needs open().
  virtual tsdbpy::Result write(std::span<const Poll> polls) = 0;
  virtual void close() noexcept = 0;
  // From any thread: ends a call in progress at once, and every later one.
  // One-way; for shutting down.
  virtual void interrupt() noexcept = 0;
};

}  // namespace varnok::tessaly
