#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "update/main_thread_queue.h"

using update::MainThreadQueue;

TEST(MainThreadQueue, RunsEveryTaskOnceInQueueOrderWhileOtherThreadsPush) {
  MainThreadQueue queue;
  constexpr int kThreads = 4, kTasks = 2000;
  std::vector<std::pair<int, int>> ran;  // thread, sequence; touched by the running thread only
  std::vector<std::thread> pushers;
  for (int t = 0; t < kThreads; ++t)
    pushers.emplace_back([&, t] {
      for (int i = 0; i < kTasks; ++i) queue.Push([&ran, t, i] { ran.emplace_back(t, i); });
    });
  while (ran.size() < size_t(kThreads * kTasks)) queue.RunAll();
  for (auto& p : pushers) p.join();
  queue.RunAll();
  ASSERT_EQ(ran.size(), size_t(kThreads * kTasks));
  std::vector<int> next(kThreads, 0);
  for (const auto& [t, i] : ran) EXPECT_EQ(i, next[t]++) << "thread " << t;
}

TEST(MainThreadQueue, TasksMayQueueMoreAndRunTheQueueFromANestedLoop) {
  MainThreadQueue queue;
  std::vector<char> ran;
  queue.Push([&] {
    ran.push_back('a');
    queue.Push([&] { ran.push_back('d'); });
    queue.RunAll();  // a modal loop inside a task
    ran.push_back('e');
  });
  queue.Push([&] { ran.push_back('b'); });
  queue.Push({});  // empty: skipped
  queue.Push([&] { ran.push_back('c'); });
  queue.RunAll();
  EXPECT_EQ(ran, (std::vector<char>{'a', 'b', 'c', 'd', 'e'}));
  queue.RunAll();  // nothing left
  EXPECT_EQ(ran.size(), 5u);
}
