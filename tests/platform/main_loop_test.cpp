// The one main loop both hosts run: what a pass does, in which order, for the
// times the timers give.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/main_loop.h"

namespace {

// Answers "how long until due" from a script and logs every call.
class ScriptedEvents : public HostEvents {
public:
  void HostIdle() override { log->push_back("idle"); }
  uint32_t HostMsUntilDue() override {
    const uint32_t due = dues.empty() ? 20 : dues.front();
    if (!dues.empty()) dues.pop_front();
    return due;
  }
  std::deque<uint32_t> dues;
  std::vector<std::string>* log = nullptr;
};

class LoggingDriver : public LoopDriver {
public:
  void Wait(uint32_t ms) override { log->push_back("wait " + std::to_string(ms)); }
  void Deliver() override { log->push_back("deliver"); }
  std::vector<std::string>* log = nullptr;
};

}  // namespace

TEST(MainLoop, APassWaitsForTheNextTickThenDeliversAndRunsTheTimers) {
  struct Case {
    const char* what;
    std::deque<uint32_t> dues;
    std::vector<std::string> pass;
  };
  const Case cases[] = {
      {"nothing due yet", {15}, {"wait 15", "deliver", "idle", "deliver"}},
      {"a timer due now runs before the clock moves on",
       {0, 7},
       {"deliver", "idle", "deliver", "wait 7", "deliver", "idle", "deliver"}},
      {"timers still behind wait a millisecond",
       {0, 0},
       {"deliver", "idle", "deliver", "wait 1", "deliver", "idle", "deliver"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> log;
    ScriptedEvents events;
    events.dues = c.dues;
    events.log = &log;
    LoggingDriver driver;
    driver.log = &log;
    RunLoopPass(driver, events);
    EXPECT_EQ(log, c.pass) << c.what;
    EXPECT_TRUE(events.dues.empty()) << c.what << ": every scripted answer asked for";
  }
}
