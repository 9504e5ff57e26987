#include "media/dxtimer.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/null_host.h"

namespace {

// A hand-set clock and foreground flag; nothing else is used by the timer.
class ClockHost : public NullHost {
public:
  uint32_t now = 5000;
  bool foreground = true;

  uint32_t Milliseconds() override { return now; }
  bool Foreground() override { return foreground; }
};

class TimerTest : public ::testing::Test {
protected:
  TimerTest() : timer(host) {
    timer.SetInterval(20);
    timer.OnTimer = [this](int lag) { lags.push_back(lag); };
  }
  void Start(uint32_t at) {
    host.now = at;
    timer.SetEnabled(true);
  }
  // Advances the clock and runs one idle step.
  void IdleAt(uint32_t at) {
    host.now = at;
    timer.DoIdle();
  }
  ClockHost host;
  TDXTimer timer;
  std::vector<int> lags;
};

struct LagCase {
  int interval;
  uint32_t elapsed;
  int wantLag;  // 0 = no tick
};

void PrintTo(const LagCase& c, std::ostream* os) {
  *os << "interval " << c.interval << ", " << c.elapsed << " ms -> lag " << c.wantLag;
}

class TimerLagTest : public TimerTest, public ::testing::WithParamInterface<LagCase> {};

TEST_P(TimerLagTest, LagCountIsWholeIntervalsElapsed) {
  const LagCase& c = GetParam();
  timer.SetInterval(c.interval);
  Start(1000);
  IdleAt(1000 + c.elapsed);
  if (c.wantLag == 0) {
    EXPECT_TRUE(lags.empty());
  } else {
    EXPECT_EQ(lags, std::vector<int>{c.wantLag});
  }
}

INSTANTIATE_TEST_SUITE_P(Table, TimerLagTest,
                         ::testing::Values(LagCase{20, 19, 0}, LagCase{20, 20, 1}, LagCase{20, 39, 1},
                                           LagCase{20, 40, 2}, LagCase{20, 45, 2}, LagCase{20, 1000, 50},
                                           LagCase{0, 0, 1},     // divisor is at least 1, lag at least 1
                                           LagCase{0, 37, 37},   // Interval 0: the elapsed milliseconds
                                           LagCase{-5, 12, 12},  // negative counts as 0
                                           LagCase{1, 0, 0}, LagCase{1, 3, 3}, LagCase{20, 0xFFFFFFFFu, 214748364}));

TEST_F(TimerTest, IntervalSetterClamps) {
  timer.SetInterval(-5);
  EXPECT_EQ(timer.Interval(), 0);
  timer.SetInterval(33);
  EXPECT_EQ(timer.Interval(), 33);
}

TEST_F(TimerTest, LateTickIsNotRepeated) {
  Start(1000);
  IdleAt(1100);
  IdleAt(1100);
  IdleAt(1119);
  EXPECT_EQ(lags, std::vector<int>{5});
  IdleAt(1120);
  EXPECT_EQ(lags, (std::vector<int>{5, 1})) << "counting restarts from the late tick";
}

TEST_F(TimerTest, TickAfter45MsThen20Ms) {
  Start(1000);
  IdleAt(1045);
  IdleAt(1065);
  EXPECT_EQ(lags, (std::vector<int>{2, 1}));
}

TEST_F(TimerTest, ClockWrapIsHarmless) {
  Start(0xFFFFFFF0u);
  IdleAt(0xFFFFFFF0u + 19);
  EXPECT_TRUE(lags.empty());
  IdleAt(0x00000004u);  // 20 ms later, past the wrap
  IdleAt(0x00000004u + 45);
  EXPECT_EQ(lags, (std::vector<int>{1, 2}));
}

TEST_F(TimerTest, FrameRateOverOneSecondWindows) {
  Start(0);
  EXPECT_EQ(timer.FrameRate(), 0);
  for (uint32_t t = 20; t < 1000; t += 20) IdleAt(t);
  EXPECT_EQ(timer.FrameRate(), 0) << "no full window yet";
  IdleAt(1000);
  EXPECT_EQ(timer.FrameRate(), 50);

  // A slower second: 25 ticks 40 ms apart.
  for (uint32_t t = 1040; t <= 2000; t += 40) IdleAt(t);
  EXPECT_EQ(timer.FrameRate(), 25);
}

TEST_F(TimerTest, FrameRateRoundsToNearest) {
  timer.SetInterval(7);
  Start(0);
  // The 143rd tick at 1001 ms closes the window: 143000 / 1001 = 142.86.
  for (uint32_t t = 7; t <= 1001; t += 7) IdleAt(t);
  EXPECT_EQ(lags.size(), 143u);
  EXPECT_EQ(timer.FrameRate(), 143);
}

TEST_F(TimerTest, StoppedTimerDoesNotTick) {
  host.now = 1000;
  timer.DoIdle();
  IdleAt(2000);
  EXPECT_TRUE(lags.empty()) << "not enabled yet";
  EXPECT_EQ(timer.MsUntilDue(), TDXTimer::NeverDue);

  Start(3000);
  EXPECT_TRUE(timer.Enabled());
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Enabled());
  IdleAt(4000);
  EXPECT_TRUE(lags.empty());

  Start(5000);  // enabling starts afresh from now
  IdleAt(5019);
  IdleAt(5020);
  EXPECT_EQ(lags, std::vector<int>{1});
}

TEST_F(TimerTest, BackgroundWithActiveOnlyDoesNotTickNorCatchUp) {
  Start(1000);
  host.foreground = false;
  IdleAt(1100);
  IdleAt(1500);
  EXPECT_TRUE(lags.empty());

  host.foreground = true;
  IdleAt(1600);
  EXPECT_TRUE(lags.empty()) << "coming back restarts the timer";
  IdleAt(1620);
  EXPECT_EQ(lags, std::vector<int>{1});
}

TEST_F(TimerTest, AppActivatedResetsTheTimes) {
  timer.ActiveOnly = false;  // ticks in the background; only the activation resets
  Start(1000);
  host.now = 1500;
  timer.AppActivated();
  IdleAt(1519);
  EXPECT_TRUE(lags.empty());
  IdleAt(1520);
  EXPECT_EQ(lags, std::vector<int>{1});
}

TEST_F(TimerTest, WithoutActiveOnlyBackgroundTicks) {
  timer.ActiveOnly = false;
  host.foreground = false;
  Start(1000);
  IdleAt(1040);
  EXPECT_EQ(lags, std::vector<int>{2});
}

TEST_F(TimerTest, EnabledInBackgroundWaitsForForeground) {
  host.foreground = false;
  Start(1000);
  IdleAt(1200);
  EXPECT_TRUE(lags.empty());
  EXPECT_EQ(timer.MsUntilDue(), 20u);
  host.foreground = true;
  EXPECT_EQ(timer.MsUntilDue(), 0u) << "the next idle step should restart it";
  IdleAt(1300);
  IdleAt(1320);
  EXPECT_EQ(lags, std::vector<int>{1});
}

TEST_F(TimerTest, MsUntilDue) {
  Start(1000);
  EXPECT_EQ(timer.MsUntilDue(), 20u);
  host.now = 1015;
  EXPECT_EQ(timer.MsUntilDue(), 5u);
  host.now = 1020;
  EXPECT_EQ(timer.MsUntilDue(), 0u);
  host.now = 1090;
  EXPECT_EQ(timer.MsUntilDue(), 0u);
  timer.DoIdle();
  EXPECT_EQ(timer.MsUntilDue(), 20u);
}

}  // namespace
