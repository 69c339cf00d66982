#pragma once
// A main thread for the online client in host tests and benchmarks: posted
// tasks and window-like timers, run by RunUntil on the calling thread.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "update/update_install.h"

namespace testing_support {

// The main thread of the client: posted tasks and window-like timers.
class LoopHost : public update::UpdateInstallHost {
 public:
  update::UpdateInstall* client = nullptr;
  std::vector<std::pair<int, int>> errors;  // code, downloading
  int loaded = 0, connected = 0, complete = 0;
  std::vector<std::string> traces;

  void PostToMain(std::function<void()> task) override {
    std::lock_guard<std::mutex> g(m_lock);
    m_tasks.push_back(std::move(task));
    m_wake.notify_all();
  }
  void StartTimer(int id, unsigned ms) override {
    m_timers[id] = {std::chrono::milliseconds(ms), std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)};
  }
  void StopTimer(int id) override { m_timers.erase(id); }
  // The download page's speed timer: SpeedTick every second, its texts kept.
  static constexpr int kSpeedTimer = -1;
  std::vector<std::string> speeds;
  void StartSpeedTimer() { StartTimer(kSpeedTimer, 1000); }
  void ShowErrorMsg(int code, int downloading) override { errors.emplace_back(code, downloading); }
  void FileListLoaded(bool) override { ++loaded; }
  void OnlineClientConnected() override { ++connected; }
  void DownloadComplete() override { ++complete; }
  void Trace(const std::string& t) override {
    std::lock_guard<std::mutex> g(m_traceLock);
    traces.push_back(t);
  }
  int TraceCount(const std::string& prefix) {
    std::lock_guard<std::mutex> g(m_traceLock);
    int n = 0;
    for (const auto& t : traces) n += t.starts_with(prefix) ? 1 : 0;
    return n;
  }

  // Runs tasks and timers until `done` or the time is up.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> g(m_lock);
        m_wake.wait_for(g, std::chrono::milliseconds(20), [&] { return !m_tasks.empty(); });
        if (!m_tasks.empty()) {
          task = std::move(m_tasks.front());
          m_tasks.pop_front();
        }
      }
      if (task) task();
      const auto now = std::chrono::steady_clock::now();
      for (auto it = m_timers.begin(); it != m_timers.end();) {
        const int id = it->first;
        if (now >= it->second.next) {
          it->second.next = now + it->second.period;
          if (client && id == kSpeedTimer) speeds.push_back(client->SpeedTick());
          else if (client) client->OnTimer(id);
          it = m_timers.lower_bound(id + 1);  // the handler may change the table
        } else {
          ++it;
        }
      }
    }
    return true;
  }

 private:
  struct Timer {
    std::chrono::milliseconds period;
    std::chrono::steady_clock::time_point next;
  };
  std::mutex m_lock, m_traceLock;
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_tasks;
  std::map<int, Timer> m_timers;
};

}  // namespace testing_support
