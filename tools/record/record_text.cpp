#include "record_text.h"

#include <charconv>

namespace varnok::record {

namespace {

std::string number(double value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, end);
}

// A database's failure on one line: libpq adds hints on further lines.
std::string first_line(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace

std::string database_text(std::string_view host, int port, std::string_view name) {
  // Appended piece by piece: GCC 12 misreports "x" + std::string.
  const bool ipv6 = host.find(':') != std::string_view::npos;
  std::string text;
  if (ipv6) text += '[';
  text += host;
  if (ipv6) text += ']';
  text += ':';
  text += std::to_string(port);
  text += '/';
  text += name;
  return text;
}

std::string start_line(const Plan& plan) {
  std::string groups = "group " + plan.group;
  if (plan.all_groups) {
    groups = "all groups";
  } else if (!plan.more_groups.empty()) {
    groups = "groups " + plan.group;
    for (const auto& group : plan.more_groups) groups += ", " + group;
  }
  std::string line = "varnok-record: " + std::string(plan.database ? "recording " : "polling ") + groups +
                     " of " + plan.endpoint + " every " + std::to_string(plan.period_ms) + " ms";
  if (plan.database) line += " into the database " + *plan.database;
  if (plan.database && plan.keep_days) line += " (keeping " + std::to_string(*plan.keep_days) + " days)";
  line += plan.seconds > 0 ? " for " + number(plan.seconds) + " s" : ", until Ctrl-C or SIGTERM";
  if (!plan.database) line += ", not recording (--no-db)";
  if (plan.all_groups) line += "; looking for new groups every " + std::to_string(plan.rescan_s) + " s";
  return line;
}

std::string summary(const tessaly::SessionCounts& counts, const Plan& plan) {
  std::string line = "varnok-record: ";
  if (plan.several_groups()) line += std::to_string(counts.groups) + " groups, ";
  line += std::to_string(counts.nodes) + " nodes, " + std::to_string(counts.polls) + " polls, ";
  if (!counts.recording || !plan.database) return line + "nothing recorded (--no-db)";
  const tessaly::RecorderCounts& r = *counts.recording;
  const std::uint64_t not_recorded = r.queued + r.dropped;
  line += std::to_string(r.recorded) + " recorded, " + std::to_string(not_recorded) + " not recorded (" +
          std::to_string(r.queued) + " queued, " + std::to_string(r.dropped) + " dropped)";
  if (not_recorded == 0) return line;
  const std::string& database = *plan.database;
  if (!r.failure.empty())
    return line + ": the database " + database + " was not available (" + first_line(r.failure) + ")";
  if (r.queued > 0) return line + ": still waiting for the database " + database + " at the stop";
  return line + ": dropped while the database " + database + " was not available";
}

}  // namespace varnok::record
