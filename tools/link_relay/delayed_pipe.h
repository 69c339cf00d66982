#pragma once
// One direction of a degraded link: bytes read from one socket become
// deliverable a fixed delay after they were read, leave at most at a given
// rate and keep their order; the end of the stream follows the last byte.
// Holds at most kMaxInFlight bytes; the reader waits while it is full.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace link_relay {

class DelayedPipe {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kMaxInFlight = size_t(1) << 20;
  static constexpr size_t kMaxWrite = 64 * 1024;

  // Bytes read at `now`, deliverable at now + delay (never before those
  // already queued).
  void Push(const uint8_t* data, size_t size, Clock::time_point now, Clock::duration delay);
  // The end of the stream, read at `now`.
  void PushEnd(Clock::time_point now, Clock::duration delay);

  // How many bytes the reader may take in now (0: wait for room).
  size_t Room() const { return m_inFlight < kMaxInFlight ? kMaxInFlight - m_inFlight : 0; }
  size_t InFlight() const { return m_inFlight; }
  bool Empty() const { return m_chunks.empty(); }
  // The front is the end of the stream and is due.
  bool EndDue(Clock::time_point now) const;
  // Drops the end marker once it has been passed on.
  void PopEnd();

  // When the front may next leave: its due time, and at a rate cap
  // (bytes/s, 0 = none) no earlier than the pacing allows.
  Clock::time_point NextDue(uint64_t rate) const;
  // Bytes that may be written now (none before NextDue): the front's rest,
  // at most kMaxWrite and, under a rate cap, at most a 50 ms share of it.
  struct Slice {
    const uint8_t* data = nullptr;
    size_t size = 0;
  };
  Slice Writable(Clock::time_point now, uint64_t rate) const;
  // `size` bytes of the front were written, the write having started at `started`.
  void Consume(size_t size, Clock::time_point started, uint64_t rate);

 private:
  struct Chunk {
    std::vector<uint8_t> bytes;
    size_t offset = 0;
    Clock::time_point due;
    bool end = false;
  };
  Clock::time_point DueAfter(Clock::time_point now, Clock::duration delay) const;

  std::deque<Chunk> m_chunks;
  size_t m_inFlight = 0;
  Clock::time_point m_nextSend{};
};

}  // namespace link_relay
