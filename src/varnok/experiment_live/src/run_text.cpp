#include "varnok/experiment_live/run_text.h"

#include "varnok/csv_text.h"

namespace varnok::experiment_live {

std::string count_of(std::int64_t n, std::string_view singular, std::string_view plural) {
  return std::to_string(n) + " " + std::string(n == 1 ? singular : plural);
}

namespace {

std::string write_text(std::string_view tag, double value, std::int64_t period) {
  return "write of " + std::string(tag) + " = " + csv::number(value) + " for period " +
         std::to_string(period);
}

}  // namespace

std::string late_write_line(std::string_view tag, double value, std::int64_t period, std::int64_t late_by) {
  return write_text(tag, value, period) + " was late by " + count_of(late_by, "period", "periods");
}

std::string failed_write_line(std::string_view tag, double value, std::int64_t period, std::string_view why) {
  return write_text(tag, value, period) + " failed: " + std::string(why);
}

std::string gap_line(std::int64_t first, std::int64_t last) {
  const std::string span = first == last ? "period " + std::to_string(first)
                                         : "periods " + std::to_string(first) + ".." + std::to_string(last);
  return span + " not recorded: the plant ran ahead";
}

std::string summary_text(const LiveSummary& summary) {
  std::string text = count_of(summary.rows, "period", "periods") + " recorded, " +
                     count_of(summary.writes, "write", "writes");
  if (summary.late_writes == 0 && summary.missed_periods == 0) {
    text += ", all in their periods";
  } else {
    text += ", " + count_of(summary.late_writes, "write", "writes") + " late, " +
            count_of(summary.missed_periods, "period", "periods") + " not recorded";
  }
  if (summary.end != LiveEnd::kDone) {
    text += summary.end == LiveEnd::kStopped ? ", stopped" : ", ended early";
    text += " after period " + std::to_string(summary.last_period) + " of " + std::to_string(summary.periods);
  }
  return text;
}

}  // namespace varnok::experiment_live
