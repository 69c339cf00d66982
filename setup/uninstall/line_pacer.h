#pragma once
// The pause after a removal's detail line, spaced out: a line is followed by
// a pause of kPauseMs only when kPauseEveryMs have passed since the last one,
// so that lines coming slowly each get their pause, and a removal of many
// files spends at most a tenth of its time asleep instead of 10 ms a file.
#include <cstdint>

namespace setup {

class LinePacer {
 public:
  static constexpr uint32_t kPauseMs = 10, kPauseEveryMs = 100;

  // The pause (ms) after a line shown at `nowMs` (a wrapping 32-bit count).
  uint32_t PauseAfterLine(uint32_t nowMs) {
    if (m_paused && nowMs - m_lastPause < kPauseEveryMs) return 0;
    m_paused = true;
    m_lastPause = nowMs;
    return kPauseMs;
  }

 private:
  bool m_paused = false;
  uint32_t m_lastPause = 0;
};

}  // namespace setup
