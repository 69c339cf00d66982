#include "tools/mkpackage/stream_spool.h"

#include <system_error>

namespace mkpackage {
namespace {

constexpr uint64_t kMemoryPerSpool = 1 << 20;

}  // namespace

StreamSpool::StreamSpool(std::filesystem::path temporary, std::atomic<uint64_t>& memoryInUse,
                         uint64_t memoryBudget)
    : m_temporary(std::move(temporary)), m_memoryInUse(memoryInUse), m_memoryBudget(memoryBudget) {}

StreamSpool::~StreamSpool() {
  ReleaseMemory();
  if (m_bFile) {
    m_file.close();
    std::error_code ec;
    std::filesystem::remove(m_temporary, ec);
  }
}

void StreamSpool::ReleaseMemory() {
  m_memoryInUse -= m_nCounted;
  m_nCounted = 0;
  std::vector<uint8_t>().swap(m_memory);
}

bool StreamSpool::ToFile() {
  m_file.open(m_temporary, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
  if (!m_file) return false;
  m_bFile = true;
#ifndef _WIN32
  // Nothing stays behind even if the process is killed.
  std::error_code ec;
  std::filesystem::remove(m_temporary, ec);
#endif
  m_file.write(reinterpret_cast<const char*>(m_memory.data()), static_cast<std::streamsize>(m_memory.size()));
  ReleaseMemory();
  return static_cast<bool>(m_file);
}

bool StreamSpool::Append(const uint8_t* data, size_t size) {
  if (!m_bFile) {
    if (m_memory.size() + size <= kMemoryPerSpool) {
      if (m_memoryInUse.fetch_add(size) + size <= m_memoryBudget) {
        m_nCounted += size;
        m_memory.insert(m_memory.end(), data, data + size);
        m_nSize += size;
        return true;
      }
      m_memoryInUse -= size;
    }
    if (!ToFile()) return false;
  }
  m_file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  m_nSize += size;
  return static_cast<bool>(m_file);
}

bool StreamSpool::CopyTo(std::ostream& out) {
  if (!m_bFile) {
    out.write(reinterpret_cast<const char*>(m_memory.data()), static_cast<std::streamsize>(m_memory.size()));
    return static_cast<bool>(out);
  }
  m_file.flush();
  m_file.seekg(0);
  std::vector<char> piece(1 << 20);
  uint64_t left = m_nSize;
  while (left > 0) {
    const size_t n = left < piece.size() ? static_cast<size_t>(left) : piece.size();
    if (!m_file.read(piece.data(), static_cast<std::streamsize>(n))) return false;
    out.write(piece.data(), static_cast<std::streamsize>(n));
    if (!out) return false;
    left -= n;
  }
  return true;
}

}  // namespace mkpackage
