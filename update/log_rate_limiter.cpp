#include "update/log_rate_limiter.h"

namespace update {

std::optional<std::string> LogRateLimiter::Filter(const std::string& key, const std::string& line,
                                                  Clock::time_point now) {
  std::lock_guard<std::mutex> g(m_lock);
  auto it = m_windows.find(key);
  if (it == m_windows.end()) {
    if (m_windows.size() >= m_maxKeys) {
      // Forget the windows that are over; when none is, every new key shares one.
      for (auto w = m_windows.begin(); w != m_windows.end();)
        w = now - w->second.start >= m_window ? m_windows.erase(w) : std::next(w);
    }
    const std::string slot = m_windows.size() >= m_maxKeys ? std::string("*") : key;
    it = m_windows.try_emplace(slot, Window{now, 0, 0}).first;
  }
  Window& w = it->second;
  std::string prefix;
  if (now - w.start >= m_window) {
    if (w.suppressed) prefix = "(" + std::to_string(w.suppressed) + " similar lines left out) ";
    w = Window{now, 0, 0};
  }
  if (w.written >= m_burst) {
    ++w.suppressed;
    return std::nullopt;
  }
  ++w.written;
  return prefix + line;
}

}  // namespace update
