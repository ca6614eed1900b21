// Abandoning a call from another thread: a frozen server or a silent port
// must not hold a caller who is shutting down.

#include <signal.h>

#include <chrono>
#include <future>
#include <thread>

#include "netio/wait.h"
#include "test_support.h"
#include "tsdbpy/tsdbpy.h"

namespace tsdbpy_testing {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

// Runs `call` on a thread, sets the interrupt once it has had time to start
// waiting, and gives what the call returned with how long it took after the
// interrupt.
template <typename Call>
auto interrupted_after_start(netio::Interrupt& interrupt, Call call) {
  auto pending = std::async(std::launch::async, call);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(pending.wait_for(0s), std::future_status::timeout) << "the call did not wait";
  const auto t0 = Clock::now();
  interrupt.set();
  auto result = pending.get();
  return std::pair{std::move(result), Clock::now() - t0};
}

class Interrupted : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    tsdbpy::tag::TagInfo tag{.tag_name = "T"};
    ASSERT_TRUE(tsdbpy::tag::insert_new_tag(conn_, tag).ok);
    tag_id_ = *tag.tag_id;
  }
  tsdbpy::Result write_one(tsdbpy::conn::Connection& conn) {
    const double value = 42;
    return tsdbpy::tsdata::write_tsdata(conn, {&tag_id_, 1}, {&value, 1});
  }

  int tag_id_ = 0;
};

TEST_F(Interrupted, ACallOnAFrozenServerEndsAtOnceAndLaterCallsFailWithoutWaiting) {
  netio::Interrupt interrupt;
  auto conn = tsdbpy::conn::get_conn(settings(), interrupt.fd());
  ASSERT_TRUE(write_one(conn).ok);
  const pid_t backend = PQbackendPID(conn.native_handle());
  ASSERT_EQ(kill(backend, SIGSTOP), 0);
  const auto [result, took] = interrupted_after_start(interrupt, [&] { return write_one(conn); });
  kill(backend, SIGCONT);
  EXPECT_FALSE(result.ok);
  EXPECT_THAT(result.error, HasSubstr("interrupted"));
  EXPECT_LT(took, 1s);
  EXPECT_FALSE(conn);
  EXPECT_TRUE(conn.broken());

  const auto t0 = Clock::now();
  EXPECT_FALSE(write_one(conn).ok);
  EXPECT_THROW(tsdbpy::tag::get_tag(conn, "T"), tsdbpy::Error);
  EXPECT_THROW(tsdbpy::conn::get_conn(settings(), interrupt.fd()), tsdbpy::conn::ConnectError);
  EXPECT_LT(Clock::now() - t0, 1s);
}

TEST_F(Interrupted, ConnectingToAFrozenServerEndsAtOnce) {
  // The server accepts TCP but, frozen, never answers the start-up packet.
  cluster().pause();
  netio::Interrupt interrupt;
  auto settings_with_long_timeout = settings();
  settings_with_long_timeout.emplace_back("connect_timeout", 30);
  const auto [message, took] = interrupted_after_start(interrupt, [&]() -> std::string {
    try {
      tsdbpy::conn::get_conn(settings_with_long_timeout, interrupt.fd());
    } catch (const tsdbpy::conn::ConnectError& e) {
      return e.what();
    }
    return "connected";
  });
  cluster().resume();
  EXPECT_THAT(message, HasSubstr("interrupted"));
  EXPECT_LT(took, 1s);
}

}  // namespace
}  // namespace tsdbpy_testing
