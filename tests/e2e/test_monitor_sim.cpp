// The monitor's trend against the simulated instrument: a minute of polling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "monitor/monitor_window.h"
#include "monitor/trend_chart.h"
#include "sim/hart_instrument.h"
#include "tests/support/sim_window.h"

namespace {

TEST(MonitorWithSimulator, AMinuteOfPollingEverySecondGivesSixtyPointsThatFollowTheInstrument) {
  SimWindow w({"--no-publish", "--quiet"});
  w.Exchange("Button7");  // the instrument's identity: command 3 goes to its long address
  w.form.ShowMonitor();
  MonitorWindow &monitor = *w.form.Monitor();
  const std::deque<TrendSample> &samples = w.form.Traffic().Samples();
  ASSERT_TRUE(samples.empty());

  monitor.SetPolling(true, 1);
  ASSERT_TRUE(ui::WaitUntil([&] { return samples.size() >= 60; }, 70000)) << samples.size() << " samples";
  monitor.SetPolling(false, 1);
  ASSERT_EQ(samples.size(), 60u);
  EXPECT_EQ(monitor.Trend().PointCount(0), 60);
  const double span = samples.back().seconds - samples.front().seconds;
  EXPECT_NEAR(span, 59, 1.5) << "one sample a second";

  // The values are the simulated instrument's at the time of each reply, give or take the line's
  // fixed delays: one common offset between the two clocks fits them all.
  double bestError = 1e9;
  for (double offset = -3; offset <= 3; offset += 0.02) {
    double worst = 0;
    for (const TrendSample &s : samples) {
      const HartProcessValues v = SimHartInstrument::ValuesAt(s.seconds + offset);
      for (size_t k = 0; k < 4; ++k) worst = std::max(worst, std::fabs(*s.values[k] - v.variables[k].value));
    }
    bestError = std::min(bestError, worst);
  }
  EXPECT_LT(bestError, 0.5) << "the flow moves up to 2.4 m3/h a second";
  EXPECT_EQ(samples.back().units[0], "CuMtr_hr");
  EXPECT_EQ(samples.back().units[2], "bar");
}

}  // namespace
