#include "setup/install/decode_pipeline.h"

#include "setup/install/payload_extraction.h"
#include "setup/package/payload_table.h"

namespace setup {
namespace {

// Decoded output is handed over in pieces; the queue holds at most this much
// (the entry being written included), however many entries it spans.
constexpr size_t kQueuePiece = 256 << 10;
constexpr size_t kQueueBound = 4 << 20;

}  // namespace

// Collects the decoder's output into pieces for the walk.
class DecodePipeline::QueueTarget : public TargetFile {
 public:
  QueueTarget(DecodePipeline& pipeline, Entry& entry) : m_pipeline(pipeline), m_entry(entry) {}
  bool Write(const uint8_t* data, size_t size) override {
    m_piece.insert(m_piece.end(), data, data + size);
    return m_piece.size() < kQueuePiece || Flush();
  }
  bool Close() override { return m_piece.empty() || Flush(); }

 private:
  bool Flush() {
    std::vector<uint8_t> piece;
    piece.swap(m_piece);
    return m_pipeline.Push(m_entry, std::move(piece));
  }
  DecodePipeline& m_pipeline;
  Entry& m_entry;
  std::vector<uint8_t> m_piece;
};

std::unique_ptr<DecodePipeline> DecodePipeline::Start(InstallFileSystem& fs, uint64_t firstEntry, uint32_t count,
                                                     DecodeAhead ahead) {
  if (std::thread::hardware_concurrency() < 2 || count == 0) return nullptr;
  std::unique_ptr<DecodePipeline> pipeline(new DecodePipeline(firstEntry, count, ahead.bound));
  for (unsigned i = 0; i < (ahead.threads ? ahead.threads : 1); ++i) {
    auto package = fs.OpenPackage();
    if (!package) break;
    pipeline->m_packages.push_back(std::move(package));
  }
  if (pipeline->m_packages.empty()) return nullptr;
  try {
    for (auto& package : pipeline->m_packages) {
      PackageFile& own = *package;
      {
        std::lock_guard<std::mutex> lock(pipeline->m_mutex);
        ++pipeline->m_running;
      }
      try {
        pipeline->m_threads.emplace_back([p = pipeline.get(), &own] { p->Run(own); });
      } catch (...) {
        std::lock_guard<std::mutex> lock(pipeline->m_mutex);
        --pipeline->m_running;
        throw;
      }
    }
  } catch (const std::exception&) {  // fewer threads; none: the walk decodes
    if (pipeline->m_threads.empty()) return nullptr;
  }
  return pipeline;
}

DecodePipeline::DecodePipeline(uint64_t firstEntry, uint32_t count, size_t bound)
    : m_count(count), m_bound(bound), m_next(firstEntry) {}

DecodePipeline::~DecodePipeline() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled = true;
  }
  m_room.notify_all();
  m_ready.notify_all();
  for (auto& thread : m_threads) thread.join();
}

void DecodePipeline::Taken(size_t bytes) {
  m_queued -= bytes;
  if (m_roomWanted && m_queued <= m_bound / 2) {
    m_roomWanted = false;
    m_room.notify_all();
  }
}

void DecodePipeline::Abandon(Entry& entry) {
  entry.abandoned = true;
  Taken(entry.queued);
  entry.queued = 0;
  entry.pieces.clear();
  if (entry.blocked) m_room.notify_all();
}

void DecodePipeline::WaitForRoom(std::unique_lock<std::mutex>& lock, Entry* entry) {
  // The entry the walk waits for may always add to its own few MiB: the
  // entries after it cannot hold the walk up by filling the bound.
  const auto room = [&] {
    if (m_cancelled || m_queued < m_bound) return true;
    if (!entry) return m_noMore || m_taken == m_count;
    return entry->abandoned || (entry == &m_entries.front() && entry->queued < kQueueBound);
  };
  while (!room()) {
    m_roomWanted = true;
    if (entry) entry->blocked = true;
    m_room.wait(lock);
    if (entry) entry->blocked = false;
  }
}

std::optional<bool> DecodePipeline::WriteTo(uint64_t entryOffset, uint32_t size, TargetFile& target) {
  std::unique_lock<std::mutex> lock(m_mutex);
  // Entries the walk passed by go once their threads are done with them:
  // each fills its entry through a reference.
  for (;;) {
    while (!m_entries.empty() && m_entries.front().offset < entryOffset && m_entries.front().done) {
      Abandon(m_entries.front());
      m_entries.pop_front();
    }
    if (!m_entries.empty() && m_entries.front().offset >= entryOffset) break;
    if (m_running == 0 && m_entries.empty()) return std::nullopt;
    if (!m_entries.empty()) Abandon(m_entries.front());
    m_ready.wait(lock);
  }
  Entry& entry = m_entries.front();
  if (entry.blocked) m_room.notify_all();  // the walk's now
  if (entry.offset != entryOffset || entry.size != size) return std::nullopt;
  for (;;) {
    m_ready.wait(lock, [&] { return !entry.pieces.empty() || entry.done; });
    if (entry.pieces.empty()) {
      const bool decoded = entry.decoded;
      m_entries.pop_front();
      return decoded;
    }
    std::vector<uint8_t> piece = std::move(entry.pieces.front());
    entry.pieces.pop_front();
    entry.queued -= piece.size();
    Taken(piece.size());
    if (entry.blocked) m_room.notify_all();  // it may add to its own few MiB again
    lock.unlock();
    const bool written = target.Write(piece.data(), piece.size());
    lock.lock();
    if (!written) {
      Abandon(entry);
      return false;
    }
  }
}

bool DecodePipeline::Push(Entry& entry, std::vector<uint8_t> piece) {
  std::unique_lock<std::mutex> lock(m_mutex);
  WaitForRoom(lock, &entry);
  if (m_cancelled) return false;
  if (entry.abandoned) return true;  // decoded on: only a bad stream stops the threads
  entry.queued += piece.size();
  m_queued += piece.size();
  entry.pieces.push_back(std::move(piece));
  m_ready.notify_all();
  return true;
}

void DecodePipeline::Run(PackageFile& package) {
  for (;;) {
    Entry* entry = nullptr;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      WaitForRoom(lock, nullptr);
      if (m_cancelled || m_noMore || m_taken == m_count) break;
      // The entry's head is read under the lock: it tells where the next one starts.
      const uint64_t offset = m_next;
      uint8_t path[package::kPathFieldSize];
      uint32_t size = 0;
      if (!package.Seek(offset) || !package::ReadExact(package, path, sizeof path) ||
          !package::ReadLe32(package, size)) {
        m_noMore = true;
        m_room.notify_all();
        break;
      }
      m_entries.push_back(Entry{offset, size, {}});
      entry = &m_entries.back();
      m_next = offset + package::kPathFieldSize + 4 + uint64_t(size);
      ++m_taken;
    }
    QueueTarget queue(*this, *entry);
    const uint32_t size = entry->size;
    const bool decoded = size > 0 && ExtractFile(queue, package, size) == size && queue.Close();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      entry->done = true;
      entry->decoded = decoded || size == 0;
      if (!entry->decoded) {
        m_noMore = true;  // the walk meets the bad stream itself
        m_room.notify_all();
      }
    }
    m_ready.notify_all();
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_running;
  }
  m_ready.notify_all();
}

}  // namespace setup
