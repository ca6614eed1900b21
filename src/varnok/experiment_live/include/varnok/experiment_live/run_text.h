#pragma once

// The words of a live run: its lines while it runs and its summary, the
// same in varnok-experiment and the launcher.

#include <cstdint>
#include <string>
#include <string_view>

#include "varnok/experiment_live/live_experiment.h"

namespace varnok::experiment_live {

// "1 period", "3 periods".
std::string count_of(std::int64_t n, std::string_view singular, std::string_view plural);

// "write of MV1 = 30 for period 10 was late by 2 periods"
std::string late_write_line(std::string_view tag, double value, std::int64_t period, std::int64_t late_by);
// "write of MV1 = 30 for period 10 failed: <why>"
std::string failed_write_line(std::string_view tag, double value, std::int64_t period, std::string_view why);
// "periods 11..12 not recorded: the plant ran ahead"; "period 11 ..." for one.
std::string gap_line(std::int64_t first, std::int64_t last);

// "600 periods recorded, 3 writes, all in their periods", or with
// "2 writes late, 1 period not recorded" in place of the last part; a run
// that did not reach its last period adds "stopped after period 120 of 600"
// or "ended early after period 120 of 600".
std::string summary_text(const LiveSummary& summary);

}  // namespace varnok::experiment_live
