#include "setup/integration/service_waits.h"

#include <gtest/gtest.h>

#include <limits>

namespace setup {
namespace {

constexpr uint32_t kNever = std::numeric_limits<uint32_t>::max();

// A service on a fake clock: a stop or start is pending for a set time, its
// check point advancing (or not) at every query.
class FakeService : public ServiceControl {
 public:
  uint32_t state = kServiceRunning, stopTakes = 0, startTakes = 0, hint = 3000;
  bool advancing = true, readable = true;
  uint32_t now = 0, doneAt = 0, checkPoint = 0;
  int stops = 0, starts = 0;

  bool Query(ServiceStatus& s) override {
    if (!readable) return false;
    if ((state == kServiceStopPending || state == kServiceStartPending) && doneAt != kNever && now >= doneAt)
      state = state == kServiceStopPending ? kServiceStopped : kServiceRunning;
    if (advancing) ++checkPoint;
    s = {state, state == kServiceStopPending || state == kServiceStartPending ? checkPoint : 0, hint};
    return true;
  }
  bool SendStop(ServiceStatus& s) override {
    ++stops;
    if (state != kServiceRunning) return false;
    Pending(kServiceStopPending, stopTakes);
    return Query(s);
  }
  bool Start() override {
    ++starts;
    if (state != kServiceStopped) return false;
    Pending(kServiceStartPending, startTakes);
    readable = true;
    return true;
  }
  void Sleep(uint32_t ms) override { now += ms; }
  uint32_t Now() override { return now; }

 private:
  void Pending(uint32_t which, uint32_t takes) {
    state = which;
    doneAt = takes == kNever ? kNever : now + takes;
  }
};

const ServiceWaitLimits kLimits;  // polls of 100 to 1000 ms, 60 s at most

TEST(ServiceWaits, StopWaitsForStoppedAndStartForRunning) {
  FakeService spooler;
  spooler.stopTakes = 2500;
  ASSERT_TRUE(StopAndWait(spooler, kLimits));
  EXPECT_EQ(spooler.state, kServiceStopped);
  EXPECT_GE(spooler.now, 2500u);
  EXPECT_LT(spooler.now, 2500u + 300u);  // a tenth of the hint between polls
  EXPECT_TRUE(StopAndWait(spooler, kLimits));  // already stopped: no second stop
  EXPECT_EQ(spooler.stops, 1);

  spooler.startTakes = 1200;
  ASSERT_TRUE(StartAndWait(spooler, kLimits));
  EXPECT_EQ(spooler.state, kServiceRunning);
  EXPECT_TRUE(StartAndWait(spooler, kLimits));  // already running: not started again
  EXPECT_EQ(spooler.starts, 1);
}

TEST(ServiceWaits, StartWhileAStopIsStillPendingWaitsThenStarts) {
  FakeService spooler;
  spooler.stopTakes = 4000;
  ServiceStatus s;
  ASSERT_TRUE(spooler.SendStop(s));  // the stop sent elsewhere, not waited for
  spooler.startTakes = 500;
  EXPECT_TRUE(StartAndWait(spooler, kLimits));
  EXPECT_EQ(spooler.starts, 1);
  EXPECT_GE(spooler.now, 4500u);
}

TEST(ServiceWaits, AServiceThatNeverSettlesEndsTheWaitBounded) {
  FakeService stuck;  // start pending, check point standing still: one hint
  stuck.state = kServiceStopped;
  stuck.startTakes = kNever;
  stuck.advancing = false;
  EXPECT_FALSE(StartAndWait(stuck, kLimits));
  EXPECT_LE(stuck.now, 3000u + 1000u + 300u);

  FakeService busy;  // stop pending, check point advancing forever
  busy.stopTakes = kNever;
  EXPECT_FALSE(StopAndWait(busy, kLimits));
  EXPECT_GE(busy.now, kLimits.giveUpMs);
  EXPECT_LE(busy.now, kLimits.giveUpMs + kLimits.maxPollMs);
}

TEST(ServiceWaits, UnreadableStateIsStartedAndUnstoppableServiceFails) {
  FakeService unreadable;
  unreadable.state = kServiceStopped;
  unreadable.readable = false;
  EXPECT_TRUE(StartAndWait(unreadable, kLimits));
  EXPECT_EQ(unreadable.starts, 1);

  FakeService gone;
  gone.readable = false;
  EXPECT_FALSE(StopAndWait(gone, kLimits));
  EXPECT_EQ(gone.stops, 0);
}

}  // namespace
}  // namespace setup
