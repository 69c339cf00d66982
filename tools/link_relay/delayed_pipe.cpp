#include "tools/link_relay/delayed_pipe.h"

#include <algorithm>

namespace link_relay {

DelayedPipe::Clock::time_point DelayedPipe::DueAfter(Clock::time_point now, Clock::duration delay) const {
  const Clock::time_point due = now + delay;
  return m_chunks.empty() ? due : std::max(due, m_chunks.back().due);
}

void DelayedPipe::Push(const uint8_t* data, size_t size, Clock::time_point now, Clock::duration delay) {
  if (!size) return;
  Chunk chunk;
  chunk.bytes.assign(data, data + size);
  chunk.due = DueAfter(now, delay);
  m_chunks.push_back(std::move(chunk));
  m_inFlight += size;
}

void DelayedPipe::PushEnd(Clock::time_point now, Clock::duration delay) {
  Chunk chunk;
  chunk.due = DueAfter(now, delay);
  chunk.end = true;
  m_chunks.push_back(std::move(chunk));
}

bool DelayedPipe::EndDue(Clock::time_point now) const {
  return !m_chunks.empty() && m_chunks.front().end && m_chunks.front().due <= now;
}

void DelayedPipe::PopEnd() {
  if (!m_chunks.empty() && m_chunks.front().end) m_chunks.pop_front();
}

DelayedPipe::Clock::time_point DelayedPipe::NextDue(uint64_t rate) const {
  if (m_chunks.empty()) return Clock::time_point::max();
  const Chunk& front = m_chunks.front();
  return (rate && !front.end) ? std::max(front.due, m_nextSend) : front.due;
}

DelayedPipe::Slice DelayedPipe::Writable(Clock::time_point now, uint64_t rate) const {
  if (m_chunks.empty() || m_chunks.front().end || NextDue(rate) > now) return {};
  const Chunk& front = m_chunks.front();
  size_t size = std::min(front.bytes.size() - front.offset, kMaxWrite);
  if (rate) size = std::min<uint64_t>(size, std::max<uint64_t>(1, rate / 20));
  return {front.bytes.data() + front.offset, size};
}

void DelayedPipe::Consume(size_t size, Clock::time_point started, uint64_t rate) {
  if (m_chunks.empty() || m_chunks.front().end) return;
  Chunk& front = m_chunks.front();
  size = std::min(size, front.bytes.size() - front.offset);
  front.offset += size;
  m_inFlight -= size;
  if (front.offset == front.bytes.size()) m_chunks.pop_front();
  if (rate) {
    const auto spent = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(size) / double(rate)));
    m_nextSend = std::max(m_nextSend, started) + spent;
  }
}

}  // namespace link_relay
