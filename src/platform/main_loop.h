#pragma once
// The one main loop of both hosts: wait until a tick is due (or an event
// comes), deliver the events, run the timers. The SDL host runs it against
// the real clock and event queue, the headless host against its virtual
// clock, so the players' loop is the one the tests drive.
#include <cstdint>

#include "platform/host.h"

// How a host waits and delivers events.
class LoopDriver {
public:
  virtual ~LoopDriver() = default;
  // Lets up to ms milliseconds pass, delivering whatever arrives meanwhile.
  virtual void Wait(uint32_t ms) = 0;
  // Delivers every event waiting now, then the key releases handlers queued.
  virtual void Deliver() = 0;
};

// One pass of the loop. Timers already due run (after the events waiting)
// before the clock moves on; then the loop waits until the next one is due,
// delivers the events and runs the timers.
void RunLoopPass(LoopDriver& driver, HostEvents& events);
