#include "update/stall_watch.h"

#include <algorithm>

namespace update {

void StallWatch::Restart(Clock::time_point now) {
  m_active = true;
  m_started = false;
  m_countFrom = now + kLongestWait;
  m_still = 0;
}

void StallWatch::TransferStarted(Clock::time_point now) {
  if (!m_active || m_started) return;
  m_started = true;
  m_countFrom = std::min(m_countFrom, now + 3 * m_rtt + kSlack);
}

bool StallWatch::SpeedTick(Clock::time_point now, uint64_t received) {
  if (!Counting(now)) {
    m_previous = received;
    m_still = 0;
    return false;
  }
  if (received != m_previous) {
    m_previous = received;
    m_still = 0;
    return false;
  }
  if (++m_still < kStallTicks) return false;
  m_still = 0;
  return true;
}

bool StallWatch::Grew(uint64_t received) {
  const bool grew = received != m_lastSeen;
  m_lastSeen = received;
  return grew;
}

}  // namespace update
