#pragma once

// What a trend draws, without Qt: per tag, its values in time order (live
// ones from the polls, earlier ones filled back from the database), kept for
// the chosen window; and the CSV of a time range of them.

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "session_events.h"

namespace varnok::tessaly {

using TrendTime = std::chrono::system_clock::time_point;

struct TrendSample {
  TrendTime at{};
  double value = 0;

  bool operator==(const TrendSample&) const = default;
};

// One tag's values, oldest first, never two at the same time.
class TrendSeries {
 public:
  // Bounds memory whatever the polling period: an hour at 10 polls a second.
  static constexpr std::size_t kMaxSamples = 36000;

  // A live value; one not newer than the newest held is dropped (a value
  // read back after a write may arrive after a later poll's).
  void add_live(TrendSample sample);
  // Recorded values, in any order: only those older than the oldest value
  // held go in, so that what was both recorded and received live is drawn
  // once, and filling back again after the window grew adds only the part
  // before it.
  void add_history(std::span<const TrendSample> history);
  // Drops the values older than `from`.
  void trim_before(TrendTime from);

  const std::deque<TrendSample>& samples() const noexcept { return samples_; }
  // The values with from <= at <= to, as indices [first, last).
  std::pair<std::size_t, std::size_t> range(TrendTime from, TrendTime to) const;

 private:
  std::deque<TrendSample> samples_;
};

// The tags on a trend, in the order they were added, and the window kept.
class TrendSet {
 public:
  explicit TrendSet(std::chrono::seconds window) : window_(window) {}

  // False when the tag is on the trend already (add) or not (remove).
  bool add(const std::string& tag);
  bool remove(const std::string& tag);
  bool contains(const std::string& tag) const { return find(tag) != nullptr; }
  bool empty() const noexcept { return series_.empty(); }
  std::vector<std::string> tags() const;
  // Null for a tag not on the trend.
  const TrendSeries* series(const std::string& tag) const { return find(tag); }

  std::chrono::seconds window() const noexcept { return window_; }
  // A shorter window drops what falls out of it at once; a longer one needs
  // filling back (add_history).
  void set_window(std::chrono::seconds window);

  // The poll's values of the tags on the trend, then what fell out of the
  // window ending at the poll.
  void add_poll(const PolledNumbers& poll);
  // Ignored for a tag no longer on the trend.
  void add_history(const std::string& tag, std::span<const TrendSample> history);

  // The newest time held, or none when nothing is.
  std::optional<TrendTime> latest() const;

 private:
  TrendSeries* find(const std::string& tag);
  const TrendSeries* find(const std::string& tag) const;

  std::chrono::seconds window_;
  std::vector<std::pair<std::string, TrendSeries>> series_;
};

// What a line of at most `columns` pixel columns needs of the values with
// from <= time <= to: all of them when there are at most two per column,
// else, per column's slice of time, its lowest and highest value in time
// order, so that peaks stay on screen while drawing costs at most two
// points a column.
std::vector<TrendSample> trend_envelope(const TrendSeries& series, TrendTime from, TrendTime to,
                                        std::size_t columns);

// The values of every tag with from <= time <= to as CSV: a header
// "time,<tag>,...", one row per distinct time, oldest first, an empty cell
// where a tag has no value at that time; times and numbers written as
// varnok-export writes them (varnok/csv_text.h).
std::string trend_csv(const TrendSet& set, TrendTime from, TrendTime to);

}  // namespace varnok::tessaly
