#pragma once
// Status reports handed to another sink in order on a thread of their own, so
// that a driven install goes on with its next file while the controlling
// program takes the last report. At most kQueueLimit reports wait; all are
// delivered before the destructor returns. A full queue holds the run until
// half of it is delivered, so that the two threads do not wake each other
// for every report.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "setup/install/extraction_reporter.h"

namespace setup {

class OrderedStatusSink : public StatusSink {
 public:
  static constexpr size_t kQueueLimit = 1024;

  explicit OrderedStatusSink(StatusSink& inner);
  ~OrderedStatusSink() override;
  OrderedStatusSink(const OrderedStatusSink&) = delete;
  OrderedStatusSink& operator=(const OrderedStatusSink&) = delete;

  void Report(uint32_t code) override;
  void Report(uint32_t code, const std::u16string& argument) override;

 private:
  struct Item {
    uint32_t code;
    bool hasArgument;
    std::u16string argument;
  };
  void Add(Item item);
  void Run();

  StatusSink& m_inner;
  std::mutex m_mutex;
  std::condition_variable m_added, m_room;
  std::deque<Item> m_items;
  bool m_full = false;  // the run waits for room
  bool m_ending = false;
  std::thread m_thread;  // last: starts once the members above exist
};

}  // namespace setup
