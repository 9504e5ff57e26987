#include "platform/main_loop.h"

void RunLoopPass(LoopDriver& driver, HostEvents& events) {
  uint32_t due = events.HostMsUntilDue();
  if (due == 0) {
    // What is waiting goes in before the timers that are due run.
    driver.Deliver();
    events.HostIdle();
    driver.Deliver();
    due = events.HostMsUntilDue();
    // Timers still behind wait a millisecond, so every pass moves the clock.
    if (due == 0) due = 1;
  }
  driver.Wait(due);
  driver.Deliver();
  events.HostIdle();
  driver.Deliver();
}
