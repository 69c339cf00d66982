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

std::unique_ptr<DecodePipeline> DecodePipeline::Start(InstallFileSystem& fs, uint64_t firstEntry, uint32_t count) {
  if (std::thread::hardware_concurrency() < 2 || count == 0) return nullptr;
  auto package = fs.OpenPackage();
  if (!package) return nullptr;
  try {
    return std::unique_ptr<DecodePipeline>(new DecodePipeline(std::move(package), firstEntry, count));
  } catch (const std::exception&) {  // no thread: the walk decodes
    return nullptr;
  }
}

DecodePipeline::DecodePipeline(std::unique_ptr<PackageFile> package, uint64_t firstEntry, uint32_t count)
    : m_package(std::move(package)), m_first(firstEntry), m_count(count), m_thread([this] { Run(); }) {}

DecodePipeline::~DecodePipeline() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void DecodePipeline::Abandon(Entry& entry) {
  entry.abandoned = true;
  m_queued -= entry.queued;
  entry.queued = 0;
  entry.pieces.clear();
  m_changed.notify_all();
}

std::optional<bool> DecodePipeline::WriteTo(uint64_t entryOffset, uint32_t size, TargetFile& target) {
  std::unique_lock<std::mutex> lock(m_mutex);
  // Entries the walk passed by go once the reader is done with them: it
  // fills the last entry through a reference.
  for (;;) {
    while (!m_entries.empty() && m_entries.front().offset < entryOffset && m_entries.front().done) {
      Abandon(m_entries.front());
      m_entries.pop_front();
    }
    if (!m_entries.empty() && m_entries.front().offset >= entryOffset) break;
    if (m_finished && m_entries.empty()) return std::nullopt;
    if (!m_entries.empty()) Abandon(m_entries.front());
    m_changed.wait(lock);
  }
  Entry& entry = m_entries.front();
  if (entry.offset != entryOffset || entry.size != size) return std::nullopt;
  for (;;) {
    m_changed.wait(lock, [&] { return !entry.pieces.empty() || entry.done; });
    if (entry.pieces.empty()) {
      const bool decoded = entry.decoded;
      m_entries.pop_front();
      return decoded;
    }
    std::vector<uint8_t> piece = std::move(entry.pieces.front());
    entry.pieces.pop_front();
    entry.queued -= piece.size();
    m_queued -= piece.size();
    m_changed.notify_all();
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
  m_changed.wait(lock, [&] { return m_cancelled || entry.abandoned || m_queued < kQueueBound; });
  if (m_cancelled) return false;
  if (entry.abandoned) return true;  // decoded on, for the entries after it
  entry.queued += piece.size();
  m_queued += piece.size();
  entry.pieces.push_back(std::move(piece));
  m_changed.notify_all();
  return true;
}

void DecodePipeline::Run() {
  uint64_t offset = m_first;
  for (uint32_t i = 0; i < m_count; ++i) {
    uint8_t path[package::kPathFieldSize];
    uint32_t size = 0;
    if (!m_package->Seek(offset) || !package::ReadExact(*m_package, path, sizeof path) ||
        !package::ReadLe32(*m_package, size))
      break;
    Entry* entry = nullptr;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_changed.wait(lock, [this] { return m_cancelled || m_queued < kQueueBound; });
      if (m_cancelled) break;
      m_entries.push_back(Entry{offset, size, {}});
      entry = &m_entries.back();
    }
    QueueTarget queue(*this, *entry);
    const bool decoded = size > 0 && ExtractFile(queue, *m_package, size) == size && queue.Close();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      entry->done = true;
      entry->decoded = decoded || size == 0;
    }
    m_changed.notify_all();
    if (!decoded && size > 0) break;  // the walk meets the bad stream itself
    offset += package::kPathFieldSize + 4 + uint64_t(size);
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
  }
  m_changed.notify_all();
}

}  // namespace setup
