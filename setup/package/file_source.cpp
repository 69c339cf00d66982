// FileSource lives apart from the header reader: host tools use it, the
// setup program reads its own file through Win32 and links no iostreams.
#include "base/fs_path.h"
#include "setup/package/package_header.h"

#include <fstream>

namespace package {

FileSource::FileSource(const std::string& utf8Path, uint64_t offset) {
  auto* in = new std::ifstream(std::filesystem::path(vx::PathFromUtf8(utf8Path)), std::ios::binary);
  in->seekg(static_cast<std::streamoff>(offset));
  if (!*in) {
    delete in;
    return;
  }
  m_pFile = in;
}

FileSource::~FileSource() { delete static_cast<std::ifstream*>(m_pFile); }

size_t FileSource::Read(void* out, size_t n) {
  if (!m_pFile) return 0;
  auto* in = static_cast<std::ifstream*>(m_pFile);
  in->read(static_cast<char*>(out), static_cast<std::streamsize>(n));
  return static_cast<size_t>(in->gcount());
}

}  // namespace package
