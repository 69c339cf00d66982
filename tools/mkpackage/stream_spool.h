#pragma once
// Holds one finished stream until the writer reaches its place in the payload:
// in memory while it is small and the shared memory budget allows, else in a
// temporary file next to the output (removed when the spool goes).
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <vector>

namespace mkpackage {

class StreamSpool {
 public:
  // `memoryInUse` is shared by every spool; together they keep at most
  // `memoryBudget` bytes in memory.
  StreamSpool(std::filesystem::path temporary, std::atomic<uint64_t>& memoryInUse, uint64_t memoryBudget);
  ~StreamSpool();
  StreamSpool(const StreamSpool&) = delete;
  StreamSpool& operator=(const StreamSpool&) = delete;

  bool Append(const uint8_t* data, size_t size);
  uint64_t Size() const { return m_nSize; }
  // Writes the whole stream to `out`; false on a read or write failure.
  bool CopyTo(std::ostream& out);

 private:
  bool ToFile();
  void ReleaseMemory();

  std::filesystem::path m_temporary;
  std::atomic<uint64_t>& m_memoryInUse;
  uint64_t m_memoryBudget;
  std::vector<uint8_t> m_memory;
  uint64_t m_nCounted = 0;  // bytes of m_memory counted in m_memoryInUse
  std::fstream m_file;
  bool m_bFile = false;
  uint64_t m_nSize = 0;
};

}  // namespace mkpackage
