#pragma once
// A 64-bit millisecond count from a 32-bit one that wraps every 49.7 days.
#include <atomic>
#include <cstdint>

namespace setup {

// `state` holds the wraps seen (high half) and the last reading (low half);
// `read` gives the 32-bit counter. A reading below the last one is a wrap, so
// the count stays right as long as some call comes at least once per wrap.
// Safe to call from several threads at once; never goes backwards.
template <class Read>
uint64_t ExtendTickCount(std::atomic<uint64_t>& state, Read read) {
  uint64_t seen = state.load(std::memory_order_acquire);
  for (;;) {
    const uint32_t now = read();  // read after `seen`: below its low half only on a wrap
    uint64_t high = seen >> 32;
    if (now < static_cast<uint32_t>(seen)) ++high;
    const uint64_t next = (high << 32) | now;
    if (next <= seen) return seen;
    if (state.compare_exchange_weak(seen, next, std::memory_order_acq_rel)) return next;
  }
}

}  // namespace setup
