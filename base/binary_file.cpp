#include "base/binary_file.h"

namespace vx {

namespace {

#ifdef _WIN32
const wchar_t* ModeText(BinaryFile::Mode mode) {
  switch (mode) {
    case BinaryFile::Mode::Read: return L"rb";
    case BinaryFile::Mode::Create: return L"wb";
    default: return L"r+b";
  }
}
#else
const char* ModeText(BinaryFile::Mode mode) {
  switch (mode) {
    case BinaryFile::Mode::Read: return "rb";
    case BinaryFile::Mode::Create: return "wb";
    default: return "r+b";
  }
}
#endif

bool SeekTo(std::FILE* f, int64_t offset, int origin) {
#ifdef _WIN32
  return _fseeki64(f, offset, origin) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), origin) == 0;
#endif
}

int64_t Tell(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return static_cast<int64_t>(ftello(f));
#endif
}

}  // namespace

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_pFile = other.m_pFile;
    m_bFailed = other.m_bFailed;
    other.m_pFile = nullptr;
  }
  return *this;
}

bool BinaryFile::Open(const vx::FilePath& path, Mode mode) {
  Close();
  m_bFailed = false;
#ifdef _WIN32
  m_pFile = _wfopen(path.c_str(), ModeText(mode));
#else
  m_pFile = std::fopen(path.c_str(), ModeText(mode));
#endif
  return m_pFile != nullptr;
}

size_t BinaryFile::Read(void* data, size_t size) {
  if (!m_pFile) return 0;
  const size_t n = std::fread(data, 1, size, m_pFile);
  if (n < size && std::ferror(m_pFile)) m_bFailed = true;
  return n;
}

bool BinaryFile::Write(const void* data, size_t size) {
  if (!m_pFile) return false;
  if (size && std::fwrite(data, 1, size, m_pFile) != size) m_bFailed = true;
  return !m_bFailed;
}

bool BinaryFile::Seek(uint64_t offset) {
  if (!m_pFile) return false;
  if (!SeekTo(m_pFile, static_cast<int64_t>(offset), SEEK_SET)) m_bFailed = true;
  return !m_bFailed;
}

int64_t BinaryFile::Size() {
  if (!m_pFile) return -1;
  const int64_t here = Tell(m_pFile);
  if (here < 0 || !SeekTo(m_pFile, 0, SEEK_END)) return -1;
  const int64_t size = Tell(m_pFile);
  if (!SeekTo(m_pFile, here, SEEK_SET)) m_bFailed = true;
  return size;
}

bool BinaryFile::Flush() {
  if (!m_pFile) return false;
  if (std::fflush(m_pFile) != 0) m_bFailed = true;
  return !m_bFailed;
}

bool BinaryFile::Close() {
  if (!m_pFile) return false;
  const bool closed = std::fclose(m_pFile) == 0;
  m_pFile = nullptr;
  return closed && !m_bFailed;
}

std::optional<std::string> ReadWholeFile(const vx::FilePath& path) {
  BinaryFile f(path, BinaryFile::Mode::Read);
  if (!f.IsOpen()) return std::nullopt;
  std::string bytes;
  // A hint only: a folder opened on POSIX reports any size.
  const int64_t size = f.Size();
  if (size > 0 && size < (int64_t(1) << 28)) bytes.reserve(static_cast<size_t>(size));
  char buffer[65536];
  for (size_t n; (n = f.Read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
  if (!f.Good()) return std::nullopt;
  return bytes;
}

bool WriteWholeFile(const vx::FilePath& path, std::string_view bytes) {
  BinaryFile f(path, BinaryFile::Mode::Create);
  if (!f.IsOpen()) return false;
  f.Write(bytes.data(), bytes.size());
  return f.Close();
}

}  // namespace vx
