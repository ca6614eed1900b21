#include "trend_data.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iterator>
#include <map>

#include "varnok/csv_text.h"

namespace varnok::tessaly {

void TrendSeries::add_live(TrendSample sample) {
  if (!samples_.empty() && sample.at <= samples_.back().at) return;
  samples_.push_back(sample);
  if (samples_.size() > kMaxSamples) samples_.pop_front();
}

void TrendSeries::add_history(std::span<const TrendSample> history) {
  std::vector<TrendSample> older;
  for (const TrendSample& s : history) {
    if (samples_.empty() || s.at < samples_.front().at) older.push_back(s);
  }
  std::sort(older.begin(), older.end(),
            [](const TrendSample& a, const TrendSample& b) { return a.at < b.at; });
  older.erase(std::unique(older.begin(), older.end(),
                          [](const TrendSample& a, const TrendSample& b) { return a.at == b.at; }),
              older.end());
  const std::size_t room = kMaxSamples - std::min(kMaxSamples, samples_.size());
  // When there is no room for all, the newest of them are the ones to keep.
  const auto first = older.end() - static_cast<std::ptrdiff_t>(std::min(room, older.size()));
  samples_.insert(samples_.begin(), first, older.end());
}

void TrendSeries::trim_before(TrendTime from) {
  while (!samples_.empty() && samples_.front().at < from) samples_.pop_front();
}

std::pair<std::size_t, std::size_t> TrendSeries::range(TrendTime from, TrendTime to) const {
  const auto first = std::lower_bound(samples_.begin(), samples_.end(), from,
                                      [](const TrendSample& s, TrendTime t) { return s.at < t; });
  const auto last =
      std::upper_bound(first, samples_.end(), to, [](TrendTime t, const TrendSample& s) { return t < s.at; });
  return {static_cast<std::size_t>(first - samples_.begin()),
          static_cast<std::size_t>(last - samples_.begin())};
}

bool TrendSet::add(const std::string& tag) {
  if (contains(tag)) return false;
  series_.emplace_back(tag, TrendSeries{});
  return true;
}

bool TrendSet::remove(const std::string& tag) {
  const auto it = std::find_if(series_.begin(), series_.end(), [&](const auto& s) { return s.first == tag; });
  if (it == series_.end()) return false;
  series_.erase(it);
  return true;
}

std::vector<std::string> TrendSet::tags() const {
  std::vector<std::string> out;
  out.reserve(series_.size());
  for (const auto& s : series_) out.push_back(s.first);
  return out;
}

TrendSeries* TrendSet::find(const std::string& tag) {
  for (auto& s : series_)
    if (s.first == tag) return &s.second;
  return nullptr;
}

const TrendSeries* TrendSet::find(const std::string& tag) const {
  for (const auto& s : series_)
    if (s.first == tag) return &s.second;
  return nullptr;
}

void TrendSet::set_window(std::chrono::seconds window) {
  window_ = window;
  if (const std::optional<TrendTime> end = latest()) {
    for (auto& s : series_) s.second.trim_before(*end - window_);
  }
}

void TrendSet::add_poll(const PolledNumbers& poll) {
  const std::size_t n = std::min(poll.node_ids.size(), poll.values.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (TrendSeries* series = find(poll.node_ids[i])) series->add_live({poll.read_at, poll.values[i]});
  }
  for (auto& s : series_) s.second.trim_before(poll.read_at - window_);
}

void TrendSet::add_history(const std::string& tag, std::span<const TrendSample> history) {
  TrendSeries* series = find(tag);
  if (series == nullptr) return;
  series->add_history(history);
  if (const std::optional<TrendTime> end = latest()) series->trim_before(*end - window_);
}

std::optional<TrendTime> TrendSet::latest() const {
  std::optional<TrendTime> newest;
  for (const auto& s : series_) {
    if (!s.second.samples().empty() && (!newest || s.second.samples().back().at > *newest))
      newest = s.second.samples().back().at;
  }
  return newest;
}

std::vector<TrendSample> trend_envelope(const TrendSeries& series, TrendTime from, TrendTime to,
                                        std::size_t columns) {
  const auto [first, last] = series.range(from, to);
  const auto& samples = series.samples();
  std::vector<TrendSample> out;
  if (last - first <= 2 * std::max<std::size_t>(columns, 1)) {
    out.assign(samples.begin() + static_cast<std::ptrdiff_t>(first),
               samples.begin() + static_cast<std::ptrdiff_t>(last));
    return out;
  }
  out.reserve(2 * columns);
  const auto span = to - from;
  std::size_t i = first;
  for (std::size_t column = 0; column < columns && i < last; ++column) {
    const TrendTime end =
        column + 1 == columns
            ? to
            : from + std::chrono::duration_cast<TrendTime::duration>(
                         span * (static_cast<double>(column + 1) / static_cast<double>(columns)));
    std::size_t low = i;
    std::size_t high = i;
    for (; i < last && (samples[i].at < end || column + 1 == columns); ++i) {
      if (samples[i].value < samples[low].value) low = i;
      if (samples[i].value > samples[high].value) high = i;
    }
    if (i == low) continue;  // an empty slice
    out.push_back(samples[std::min(low, high)]);
    if (low != high) out.push_back(samples[std::max(low, high)]);
  }
  return out;
}

std::string trend_csv(const TrendSet& set, TrendTime from, TrendTime to) {
  const std::vector<std::string> tags = set.tags();
  // Row time -> one cell per tag.
  std::map<TrendTime, std::vector<std::string>> rows;
  for (std::size_t column = 0; column < tags.size(); ++column) {
    const TrendSeries& series = *set.series(tags[column]);
    const auto [first, last] = series.range(from, to);
    for (std::size_t i = first; i < last; ++i) {
      const TrendSample& s = series.samples()[i];
      auto& cells = rows.try_emplace(s.at, tags.size()).first->second;
      cells[column] = csv::number(s.value);
    }
  }
  std::string text = "time";
  for (const std::string& tag : tags) text += ',' + csv::field(tag);
  text += '\n';
  for (const auto& [at, cells] : rows) {
    text += csv::time_text(at);
    for (const std::string& cell : cells) {
      text += ',';
      text += cell;
    }
    text += '\n';
  }
  return text;
}

}  // namespace varnok::tessaly
