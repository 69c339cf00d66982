#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "setup/tick_count.h"

using setup::ExtendTickCount;

TEST(TickCount, CarriesWrapsOfTheThirtyTwoBitCounter) {
  std::atomic<uint64_t> state{0};
  const std::vector<uint32_t> readings = {5, 0xFFFFFF00u, 0xFFFFFFFFu, 0x10, 0x10, 0x7FFFFFFF, 3};
  const std::vector<uint64_t> expected = {5, 0xFFFFFF00u, 0xFFFFFFFFu, 0x100000010ull, 0x100000010ull,
                                          0x17FFFFFFFull, 0x200000003ull};
  for (size_t i = 0; i < readings.size(); ++i)
    EXPECT_EQ(ExtendTickCount(state, [&] { return readings[i]; }), expected[i]) << i;
}

TEST(TickCount, NeverGoesBackwardsAcrossThreads) {
  // A shared counter that every thread advances and that wraps several times.
  std::atomic<uint32_t> counter{0xFFFFF000u};
  std::atomic<uint64_t> state{0};
  auto read = [&] { return counter.fetch_add(1); };
  std::vector<std::thread> threads;
  std::atomic<bool> backwards{false};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      uint64_t last = 0;
      for (int i = 0; i < 20000; ++i) {
        const uint64_t now = ExtendTickCount(state, read);
        if (now < last) backwards = true;
        last = now;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_FALSE(backwards.load());
  EXPECT_EQ(state.load() >> 32, 1u);  // 80000 steps from 0xFFFFF000 wrap once
}
