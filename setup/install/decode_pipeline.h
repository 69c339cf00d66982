#pragma once
// Decoding ahead of the extraction walk: threads take the payload's entries
// in order, each through a handle of its own, and decode their streams into
// a bounded queue of pieces, while the walk creates folders, opens targets
// and reports. Nothing reaches a target until the walk takes an entry's
// pieces in its turn.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "setup/install/install_file_system.h"

namespace setup {

// How far decoding may run ahead: decoding threads, and the bytes they may
// hold for the walk (the entry the walk waits for may hold a few MiB more).
struct DecodeAhead {
  unsigned threads = 1;
  size_t bound = 4u << 20;
};

class DecodePipeline {
 public:
  // Decodes the `count` entries from `firstEntry`; nullptr when there is no
  // second core, no spare handle of the package or no thread. Fewer threads
  // than asked for run when fewer handles open.
  static std::unique_ptr<DecodePipeline> Start(InstallFileSystem& fs, uint64_t firstEntry, uint32_t count,
                                               DecodeAhead ahead = {});
  ~DecodePipeline();
  DecodePipeline(const DecodePipeline&) = delete;
  DecodePipeline& operator=(const DecodePipeline&) = delete;

  // Writes the decoded stream of the entry at `entryOffset` (stream size
  // `size`) to `target`: true when it decoded whole and every write
  // succeeded, as ExtractFile returning `size`. Entries before it are
  // dropped (skipped by the walk). Nothing (the walk decodes itself) when the
  // pipeline has no such entry.
  std::optional<bool> WriteTo(uint64_t entryOffset, uint32_t size, TargetFile& target);

 private:
  struct Entry {
    uint64_t offset;
    uint32_t size;
    std::deque<std::vector<uint8_t>> pieces;
    size_t queued = 0;
    bool done = false, decoded = false, abandoned = false;
    bool blocked = false;  // its thread waits for room
  };
  class QueueTarget;

  DecodePipeline(uint64_t firstEntry, uint32_t count, size_t bound);
  void Run(PackageFile& package);
  bool Push(Entry& entry, std::vector<uint8_t> piece);
  // With the lock held:
  void Abandon(Entry& entry);
  void Taken(size_t bytes);  // the walk took `bytes` off the queue
  void WaitForRoom(std::unique_lock<std::mutex>& lock, Entry* entry);

  const uint32_t m_count;
  const size_t m_bound;
  std::vector<std::unique_ptr<PackageFile>> m_packages;  // one per thread
  std::mutex m_mutex;
  // The walk waits for pieces on m_ready; threads wait for room on m_room,
  // woken when the queue is down to half the bound (not for every piece
  // taken) or when the entry they fill becomes the walk's.
  std::condition_variable m_ready, m_room;
  bool m_roomWanted = false;
  std::deque<Entry> m_entries;  // in payload order; each is filled by the thread that took it
  uint64_t m_next;              // the entry no thread has taken yet
  uint32_t m_taken = 0;
  size_t m_queued = 0;
  unsigned m_running = 0;
  bool m_noMore = false, m_cancelled = false;
  std::vector<std::thread> m_threads;
};

}  // namespace setup
