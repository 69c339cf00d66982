#pragma once
// Keeps repeated log lines from flooding a log: per key (a peer and the kind of
// line), at most `burst` lines per window; the first line let through after
// suppressed ones says how many were left out.
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace update {

class LogRateLimiter {
 public:
  using Clock = std::chrono::steady_clock;

  LogRateLimiter(size_t burst = 5, std::chrono::milliseconds window = std::chrono::seconds(10),
                 size_t maxKeys = 1024)
      : m_burst(burst), m_window(window), m_maxKeys(maxKeys) {}

  // The line to write for `line` under `key`, or nothing when it is left out.
  std::optional<std::string> Filter(const std::string& key, const std::string& line, Clock::time_point now = Clock::now());

 private:
  struct Window {
    Clock::time_point start;
    size_t written = 0, suppressed = 0;
  };
  std::mutex m_lock;
  size_t m_burst;
  std::chrono::milliseconds m_window;
  size_t m_maxKeys;
  std::map<std::string, Window> m_windows;
};

}  // namespace update
