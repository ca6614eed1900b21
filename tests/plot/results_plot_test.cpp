// Results plots drawn for real on the offscreen platform and read back:
// size, marks where their periods are, errors for what cannot be written or
// drawn, and the application a program without a window gets.

#include "varnok/plot/results_plot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "qt_leak_suppressions.h"
#include "varnok/errors.h"

namespace varnok::plot {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// A step test of `tags` tags over periods 0..100, the first tag stepping at 20.
Results step_test(std::size_t tags) {
  Results results;
  results.title = "step test";
  for (std::int64_t p = 0; p <= 100; ++p) results.periods.push_back(p);
  for (std::size_t t = 0; t < tags; ++t) {
    results.tags.push_back("2:T" + std::to_string(t) + ".PV");
    auto& column = results.columns.emplace_back();
    for (const std::int64_t p : results.periods)
      column.push_back(p < 20 ? 50.0 : 50.0 + 10 * (1 - std::exp(-static_cast<double>(p - 20 - t) / 8)));
  }
  results.columns[0][40] = std::nan("");
  results.marks = {{20, 20, "2:MV1 = 30"}};
  return results;
}

class ResultsPlot : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ensure_offscreen_app(); }
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("varnok_plot_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  QImage drawn(const Results& results, PlotSize size = {}) {
    const fs::path path = dir_ / "plot.png";
    write_png(results, path, size);
    return QImage(QString::fromStdString(path.string()), "PNG");
  }

  fs::path dir_;
};

TEST_F(ResultsPlot, ReadsBackAtTheAskedSizeOrGrowingWithThePanels) {
  const QImage asked = drawn(step_test(2), {800, 600});
  ASSERT_FALSE(asked.isNull());
  EXPECT_EQ(asked.size(), QSize(800, 600));
  std::size_t inked = 0;
  for (int y = 0; y < asked.height(); ++y) {
    for (int x = 0; x < asked.width(); ++x) inked += asked.pixel(x, y) != qRgb(255, 255, 255) ? 1 : 0;
  }
  EXPECT_GT(inked, 5000u) << "hardly anything drawn";

  int previous = 0;
  for (const std::size_t tags : {1, 3, 6}) {
    const QImage grown = drawn(step_test(tags));
    EXPECT_EQ(grown.width(), 1200);
    EXPECT_GT(grown.height(), previous) << tags << " tags";
    previous = grown.height();
  }
  EXPECT_EQ(drawn(step_test(12)).height(), previous) << "12 tags share the 6 panels of 6";
}

// The columns where two pictures of one size differ, above the key (whose
// text may differ too).
std::vector<int> differing_columns(const QImage& a, const QImage& b) {
  std::vector<int> columns;
  for (int x = 0; x < a.width(); ++x) {
    for (int y = 0; y < a.height() * 8 / 10; ++y) {
      if (a.pixel(x, y) != b.pixel(x, y)) {
        columns.push_back(x);
        break;
      }
    }
  }
  return columns;
}

// The middles of the differing columns left and right of `split`, and
// whether each side is a narrow band.
struct Bands {
  double left;
  double right;
  bool narrow;
};
Bands bands(const std::vector<int>& columns, int split) {
  const auto middle = std::partition_point(columns.begin(), columns.end(), [&](int x) { return x < split; });
  if (middle == columns.begin() || middle == columns.end()) return {0, 0, false};
  return {(columns.front() + *(middle - 1)) / 2.0, (*middle + columns.back()) / 2.0,
          *(middle - 1) - columns.front() < 30 && columns.back() - *middle < 30};
}

TEST_F(ResultsPlot, AMarkLinesUpWithTheDataAtItsPeriod) {
  // A spike in the data at period 20 or 50, and a mark at period 20 or 50:
  // each pair of pictures differs in two narrow bands, and the bands of the
  // marks are where those of the data are.
  Results data = step_test(2);
  for (auto& column : data.columns) std::fill(column.begin(), column.end(), 0.0);
  data.marks = {{70, 70, "still"}};
  Results spike_20 = data;
  Results spike_50 = data;
  spike_20.columns[1][20] = 1;
  spike_50.columns[1][50] = 1;
  Results mark_20 = spike_20;
  Results mark_50 = spike_20;
  mark_20.marks = {{20, 20, "step"}};
  mark_50.marks = {{50, 50, "step"}};

  const PlotSize size{1000, 700};
  const Bands spikes = bands(differing_columns(drawn(spike_20, size), drawn(spike_50, size)), 370);
  const Bands marks = bands(differing_columns(drawn(mark_20, size), drawn(mark_50, size)), 370);
  ASSERT_TRUE(spikes.narrow);
  ASSERT_TRUE(marks.narrow);
  EXPECT_NEAR(marks.left, spikes.left, 3);
  EXPECT_NEAR(marks.right, spikes.right, 3);
  EXPECT_GT(marks.left, 150) << "period 20 of 0..100 lies about a fifth across";
}

TEST_F(ResultsPlot, AFileThatCannotBeWrittenIsARunErrorNamingIt) {
  for (const fs::path& path : {dir_ / "missing" / "plot.png", dir_}) {
    try {
      write_png(step_test(1), path);
      ADD_FAILURE() << "wrote " << path;
    } catch (const RunError& e) {
      EXPECT_THAT(e.what(), HasSubstr(path.string()));
    }
  }
}

TEST_F(ResultsPlot, ResultsThatCannotBeDrawnAreAUsageErrorAndWriteNothing) {
  Results results = step_test(2);
  results.columns[1].pop_back();
  EXPECT_THROW(write_png(results, dir_ / "plot.png"), UsageError);
  EXPECT_THROW(write_png(step_test(6), dir_ / "plot.png", {800, 300}), UsageError) << "6 panels in 300 px";
  EXPECT_FALSE(fs::exists(dir_ / "plot.png"));
}

TEST_F(ResultsPlot, OffTheGuiThreadIsARunError) {
  bool refused = false;
  std::thread worker([&] {
    try {
      write_png(step_test(1), dir_ / "plot.png");
    } catch (const RunError& e) {
      refused = std::string(e.what()).find("GUI thread") != std::string::npos;
    }
  });
  worker.join();
  EXPECT_TRUE(refused);
  EXPECT_FALSE(fs::exists(dir_ / "plot.png"));
}

TEST_F(ResultsPlot, OneOffscreenApplicationHoweverOftenAsked) {
  QCoreApplication* const first = QCoreApplication::instance();
  ensure_offscreen_app();
  EXPECT_EQ(QCoreApplication::instance(), first);
  EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
}

// Exits 0 when ensure_offscreen_app refuses a program's QCoreApplication.
[[noreturn]] void ask_beside_a_core_application() {
  static int argc = 1;
  static char name[] = "plot_png_test";
  static char* argv[] = {name, nullptr};
  QCoreApplication core(argc, argv);
  try {
    ensure_offscreen_app();
  } catch (const RunError&) {
    std::exit(0);
  }
  std::exit(1);
}

TEST(OffscreenApp, RefusesAProgramThatRunsACoreApplication) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a child of its own, without this suite's application
  EXPECT_EXIT(ask_beside_a_core_application(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace varnok::plot
