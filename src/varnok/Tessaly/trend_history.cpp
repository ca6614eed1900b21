#include "trend_history.h"

#include "tsdb_settings.h"
#include "tsdbpy/tag.h"
#include "tsdbpy/tsdata.h"

namespace varnok::tessaly {

HistoryReader::HistoryReader(tsdbpy::conn::Settings settings, Deliver deliver)
    : settings_(settings.empty() ? settings : recorder_tsdb_settings(settings)),
      deliver_(std::move(deliver)),
      thread_([this] { run(); }) {}

HistoryReader::~HistoryReader() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  interrupt_.set();
  thread_.join();
}

void HistoryReader::request(HistoryRequest request) {
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
  }
  wake_.notify_all();
}

void HistoryReader::run() {
  for (;;) {
    HistoryRequest request;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !requests_.empty(); });
      if (stopping_) return;
      request = std::move(requests_.front());
      requests_.pop_front();
    }
    HistoryAnswer result = answer(request);
    if (interrupt_.is_set()) return;  // stopping: nobody waits for it
    if (deliver_) deliver_(std::move(result));
  }
}

HistoryAnswer HistoryReader::answer(const HistoryRequest& request) {
  HistoryAnswer result;
  if (settings_.empty()) {
    for (const std::string& tag : request.tags) result.series.emplace_back(tag, std::vector<TrendSample>{});
    return result;
  }
  try {
    if (!conn_) conn_ = tsdbpy::conn::get_conn(settings_, interrupt_.fd());
    for (const std::string& tag : request.tags) {
      std::vector<TrendSample> samples;
      if (const auto info = tsdbpy::tag::get_tag(conn_, tag); info && info->tag_id) {
        const auto recorded = tsdbpy::tsdata::read_tsdata(conn_, *info->tag_id, request.from, request.to);
        samples.reserve(recorded.size());
        for (const auto& r : recorded) samples.push_back({r.ts, r.value});
      }
      result.series.emplace_back(tag, std::move(samples));
    }
  } catch (const std::exception& e) {
    conn_.close();
    result.series.clear();
    result.error = std::string("history not read from the database: ") + e.what();
  }
  return result;
}

}  // namespace varnok::tessaly
