#pragma once
// Holds the progress page's run at its next safe point while the user is
// asked whether to quit: nothing more changes until the answer, and a Yes is
// seen at that same point.
#include <condition_variable>
#include <mutex>

namespace setup {

class RunGate {
 public:
  void Hold() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_held = true;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_held = false;
    }
    m_released.notify_all();
  }
  // The run, at a safe point.
  void Pass() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_released.wait(lock, [this] { return !m_held; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_released;
  bool m_held = false;
};

}  // namespace setup
