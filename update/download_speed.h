#pragma once
// The download page's speed figure and size texts: a running average of the
// bytes gained per one-second tick over at most ten ticks. (Whether the
// downloads stalled is StallWatch's call.)
#include <cstdint>
#include <string>

namespace update {

// "%.1fGB", "%.1fMB", "%dKB" or "%dB".
std::string FormatSize(uint64_t bytes);

class DownloadSpeed {
 public:
  struct Tick {
    bool skipped = false;    // the total went down (a restart): nothing shown
    uint64_t speed = 0;      // bytes per second
  };
  // One tick with the bytes downloaded so far.
  Tick OnTick(uint64_t downloaded);

 private:
  uint64_t g_ulPreSize = 0;
  uint64_t m_ulAccumulated = 0;
  uint32_t m_nSamples = 0;
};

}  // namespace update
