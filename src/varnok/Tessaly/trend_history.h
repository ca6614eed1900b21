#pragma once

// Filling trends back from the recorder's database, on a thread of its own:
// a window asks and carries on; the answer comes later, by value, on the
// reader's thread.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "netio/wait.h"
#include "trend_data.h"
#include "tsdbpy/conn.h"

namespace varnok::tessaly {

struct HistoryRequest {
  std::vector<std::string> tags;  // node ids, the recorded tags' names
  TrendTime from{};
  TrendTime to{};
};

struct HistoryAnswer {
  // One entry per tag asked for, in order; empty for a tag never recorded.
  std::vector<std::pair<std::string, std::vector<TrendSample>>> series;
  // Why nothing could be read (no connection, a query failed), for the
  // user; empty when it went well.
  std::string error;
};

class HistoryReader final {
 public:
  using Deliver = std::function<void(HistoryAnswer)>;

  // `settings` as tsdbpy::conn::get_conn takes them, the recorder's short
  // time-outs put in front; empty: every answer is empty, and no database
  // call is made. `deliver` runs on the reader's thread.
  HistoryReader(tsdbpy::conn::Settings settings, Deliver deliver);
  // Stops: ends the database call in progress and joins the thread.
  ~HistoryReader();
  HistoryReader(const HistoryReader&) = delete;
  HistoryReader& operator=(const HistoryReader&) = delete;

  // Queues a request and returns at once; requests are answered in order.
  void request(HistoryRequest request);

 private:
  void run();
  HistoryAnswer answer(const HistoryRequest& request);

  const tsdbpy::conn::Settings settings_;
  const Deliver deliver_;
  netio::Interrupt interrupt_;
  tsdbpy::conn::Connection conn_;  // the reader thread's only
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<HistoryRequest> requests_;
  bool stopping_ = false;
  std::thread thread_;  // last: started once the rest is built
};

}  // namespace varnok::tessaly
