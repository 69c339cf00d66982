#pragma once
// Tasks handed to the main thread by other threads (network, transfer), run
// there in the order they were queued. The main thread learns only that the
// queue has work; what it runs never comes from outside the queue.
#include <deque>
#include <functional>
#include <mutex>

namespace update {

class MainThreadQueue {
 public:
  // Any thread.
  void Push(std::function<void()> task);
  // Main thread: runs the queued tasks, those queued meanwhile too, until the
  // queue is empty. No lock is held while a task runs, so a task may queue
  // more or run the queue again from a nested message loop.
  void RunAll();

 private:
  std::mutex m_lock;
  std::deque<std::function<void()>> m_tasks;
};

}  // namespace update
