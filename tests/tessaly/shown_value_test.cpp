#include <gtest/gtest.h>

#include "session_events.h"
#include "status_text.h"

namespace varnok::tessaly {
namespace {

hublet::ValueRecord record(decltype(hublet::ValueRecord::value) value, std::uint32_t status) {
  hublet::ValueRecord r;
  r.value = std::move(value);
  r.status_code = status;
  return r;
}

TEST(ShownValue, ABadStatusMakesAValueStaleKeepingWhatTheServerStillSent) {
  struct Case {
    hublet::ValueRecord record;
    ShownValue shown;
  };
  const Case cases[] = {
      {record(31.5, 0), {"2:S1.CV1", "31.5", true, ""}},
      // Uncertain is still a measurement.
      {record(31.5, 0x40000000), {"2:S1.CV1", "31.5", true, ""}},
      // A dead plant's last value, kept by the server with its bad status.
      {record(31.5, 0x80310000), {"2:S1.CV1", "31.5", false, "BadNoCommunication (0x80310000)"}},
      // No value at all: the window keeps showing the last one.
      {record(std::monostate{}, 0x80340000), {"2:S1.CV1", "", false, "BadNodeIdUnknown (0x80340000)"}},
      // Live again.
      {record(std::int64_t{7}, 0), {"2:S1.CV1", "7", true, ""}},
  };
  // Also into one ShownValue reused from poll to poll: nothing of the one
  // before stays.
  ShownValue reused{"2:S1.Other", "stale text", false, "BadSomething"};
  for (const Case& c : cases) {
    EXPECT_EQ(shown_value("2:S1.CV1", c.record), c.shown) << std::hex << c.record.status_code;
    assign_shown_value("2:S1.CV1", c.record, reused);
    EXPECT_EQ(reused, c.shown) << std::hex << c.record.status_code;
  }
}

TEST(StatusText, NamesTheServersStatusWithItsCode) {
  EXPECT_EQ(value_status_text(0x80310000), "BadNoCommunication (0x80310000)");
}

}  // namespace
}  // namespace varnok::tessaly
