#pragma once

// Data sources: where the recorded values come from (one per OPC UA endpoint
// for the viewer).

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tsdbpy/conn.h"
#include "tsdbpy/error.h"

namespace tsdbpy::source {

enum class SourceStatus { ACTIVE, INACTIVE };
enum class SourceProtocol { OPC_UA, OPC_DA, MODBUS_TCP, MQTT };

// The stored form of a member: "active", "inactive"; "opcua", "opcda",
// "modbus_tcp", "mqtt".
std::string_view value(SourceStatus status) noexcept;
std::string_view value(SourceProtocol protocol) noexcept;
// The member whose stored form is `stored`, or none.
std::optional<SourceStatus> source_status_from(std::string_view stored) noexcept;
std::optional<SourceProtocol> source_protocol_from(std::string_view stored) noexcept;

struct SourceInfo {
  std::string source_name{};
  std::string endpoint{};
  SourceStatus status = SourceStatus::ACTIVE;
  std::optional<SourceProtocol> protocol{};
  std::string source_type{};
  std::optional<int> interval_msec{};
  // Stored as a JSON object of strings; comes back in key order.
  std::map<std::string, std::string> description{};
  // Filled by insert_new_source and get_sources.
  std::optional<int> source_id{};
};

// Each list holds the accepted values of its field; an empty list accepts
// everything. A source without a protocol matches only an empty protocol list.
struct SourceFilter {
  std::vector<std::string> names{};
  std::vector<SourceStatus> status{};
  std::vector<SourceProtocol> protocol{};
};

// The stored sources that match, in source_id order (oldest first).
// Throws tsdbpy::Error when the query fails or the connection is closed.
std::vector<SourceInfo> get_sources(conn::Connection& conn, const SourceFilter& flt = {});

// Stores `source` as a new source (equal ones may exist already) and fills
// its source_id. ok is false, with source_id untouched, when nothing was
// stored: database failure, closed connection, or a text holding a NUL
// character. A given source_id is ignored: the database picks the id.
Result insert_new_source(conn::Connection& conn, SourceInfo& source);

}  // namespace tsdbpy::source
