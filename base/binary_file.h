#pragma once
// Binary files over the C runtime (wide paths on Windows). The setup program
// uses these instead of file streams, which bring the whole locale machinery
// into every package.
#include <cstdint>
#include <cstdio>
#include "base/file_path.h"
#include <optional>
#include <string>
#include <string_view>

namespace vx {

class BinaryFile {
 public:
  enum class Mode {
    Read,       // existing file, reading
    Create,     // new or truncated file, writing
    ReadWrite,  // existing file, reading and writing anywhere
  };

  BinaryFile() = default;
  BinaryFile(const vx::FilePath& path, Mode mode) { Open(path, mode); }
  ~BinaryFile() { Close(); }
  BinaryFile(BinaryFile&& other) noexcept : m_pFile(other.m_pFile), m_bFailed(other.m_bFailed) {
    other.m_pFile = nullptr;
  }
  BinaryFile& operator=(BinaryFile&& other) noexcept;
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;

  bool Open(const vx::FilePath& path, Mode mode);
  bool IsOpen() const { return m_pFile != nullptr; }
  // True when nothing failed since the file was opened.
  bool Good() const { return m_pFile && !m_bFailed; }

  // Bytes read; fewer than `size` at the end of the file or on an error.
  size_t Read(void* data, size_t size);
  bool Write(const void* data, size_t size);
  bool Seek(uint64_t offset);
  // Size in bytes, -1 when it cannot be told; the position is kept.
  int64_t Size();
  bool Flush();
  // False when the file was not open or any operation (or the close) failed.
  bool Close();

 private:
  std::FILE* m_pFile = nullptr;
  bool m_bFailed = false;
};

// The whole file, nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const vx::FilePath& path);
// Creates or truncates the file and writes `bytes`; false on any failure.
bool WriteWholeFile(const vx::FilePath& path, std::string_view bytes);

}  // namespace vx
