#include "update/main_thread_queue.h"

#include <utility>

namespace update {

void MainThreadQueue::Push(std::function<void()> task) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_tasks.push_back(std::move(task));
}

void MainThreadQueue::RunAll() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> hold(m_lock);
      if (m_tasks.empty()) return;
      task = std::move(m_tasks.front());
      m_tasks.pop_front();
    }
    if (task) task();
  }
}

}  // namespace update
