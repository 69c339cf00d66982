#pragma once
// Decoding ahead of the extraction walk: one thread reads the payload's
// entries in order through a handle of its own and decodes their streams
// into a bounded queue of pieces, while the walk creates folders, opens
// targets and reports. Nothing reaches a target until the walk takes an
// entry's pieces in its turn.
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

class DecodePipeline {
 public:
  // Decodes the `count` entries from `firstEntry`; nullptr when there is no
  // second core, no spare handle of the package or no thread.
  static std::unique_ptr<DecodePipeline> Start(InstallFileSystem& fs, uint64_t firstEntry, uint32_t count);
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
  };
  class QueueTarget;

  DecodePipeline(std::unique_ptr<PackageFile> package, uint64_t firstEntry, uint32_t count);
  void Run();
  bool Push(Entry& entry, std::vector<uint8_t> piece);
  void Abandon(Entry& entry);  // with the lock held

  std::unique_ptr<PackageFile> m_package;
  const uint64_t m_first;
  const uint32_t m_count;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<Entry> m_entries;  // in payload order; the reader fills the last
  size_t m_queued = 0;
  bool m_finished = false, m_cancelled = false;
  std::thread m_thread;  // last: starts once the members above exist
};

}  // namespace setup
