#include "setup/install/ordered_status_sink.h"

#include <system_error>
#include <utility>

namespace setup {

OrderedStatusSink::OrderedStatusSink(StatusSink& inner) : m_inner(inner) {
  try {
    m_thread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {  // no thread: reports go straight through
  }
}

OrderedStatusSink::~OrderedStatusSink() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ending = true;
  }
  m_added.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void OrderedStatusSink::Report(uint32_t code) { Add({code, false, {}}); }

void OrderedStatusSink::Report(uint32_t code, const std::u16string& argument) { Add({code, true, argument}); }

void OrderedStatusSink::Add(Item item) {
  if (!m_thread.joinable()) {
    item.hasArgument ? m_inner.Report(item.code, item.argument) : m_inner.Report(item.code);
    return;
  }
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_items.size() >= kQueueLimit) {
    m_full = true;
    m_room.wait(lock, [this] { return !m_full; });
  }
  m_items.push_back(std::move(item));
  if (m_items.size() == 1) m_added.notify_all();  // the thread may wait for it
}

void OrderedStatusSink::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_added.wait(lock, [this] { return !m_items.empty() || m_ending; });
    if (m_items.empty()) return;
    Item item = std::move(m_items.front());
    m_items.pop_front();
    if (m_full && m_items.size() <= kQueueLimit / 2) {
      m_full = false;
      m_room.notify_all();
    }
    lock.unlock();
    item.hasArgument ? m_inner.Report(item.code, item.argument) : m_inner.Report(item.code);
    lock.lock();
  }
}

}  // namespace setup
