#pragma once
// When the downloads count as stalled. The speed timer's rules (five ticks
// without growth, an average of nothing) and the download watchdog are
// judged on the bytes the transfers received, and only from the moment data
// could first have arrived after a (re)start: the first file answer plus the
// transfer connect, its AUTH and the first block, three round trips in all.
// A reconnect cycle takes about eleven round trips before data flows, so
// counting from the restart itself would tear down every cycle on a slow link.
#include <chrono>
#include <cstdint>

namespace update {

class StallWatch {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kStallTicks = 5;  // speed ticks without a byte
  // Waited for data after the first file answer, beyond three round trips.
  static constexpr Clock::duration kSlack = std::chrono::seconds(2);
  // Counting starts at the latest this long after a restart, answer or not.
  static constexpr Clock::duration kLongestWait = std::chrono::seconds(60);

  // The downloads (re)start now: nothing counts until data could arrive.
  void Restart(Clock::time_point now);
  // The reconnect is under way: nothing counts until the next Restart.
  void Suspend() { m_active = false; }
  // The control connection's round trip, measured on the version request.
  void RoundTrip(Clock::duration rtt) { m_rtt = rtt; }
  Clock::duration RoundTripTime() const { return m_rtt; }
  // A file answer arrived: its transfer starts now.
  void TransferStarted(Clock::time_point now);

  // True once data could have arrived since the last Restart.
  bool Counting(Clock::time_point now) const { return m_active && now >= m_countFrom; }
  // A speed tick with the bytes received so far: true when stalled (the
  // count then starts again).
  bool SpeedTick(Clock::time_point now, uint64_t received);
  // True when bytes arrived since the previous call (the watchdog's notice).
  bool Grew(uint64_t received);

 private:
  bool m_active = false;
  bool m_started = false;
  Clock::time_point m_countFrom{};
  Clock::duration m_rtt = std::chrono::milliseconds(100);
  uint64_t m_previous = 0;     // bytes at the last counted speed tick
  int m_still = 0;             // counted ticks without growth in a row
  uint64_t m_lastSeen = 0;     // bytes at the last Grew
};

}  // namespace update
