#include "setup/install/win_install_file_system.h"

#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cstdio>

#include "base/utf16.h"
#include "setup/startup/win_header_environment.h"

namespace setup {
namespace {

class CPackageFile : public PackageFile {
 public:
  explicit CPackageFile(FILE* file) : m_pFile(file) { setvbuf(m_pFile, nullptr, _IOFBF, kBuffer); }
  ~CPackageFile() override { fclose(m_pFile); }
  size_t Read(void* out, size_t n) override {
    const size_t got = n ? fread(out, 1, n, m_pFile) : 0;
    m_nPosition += got;
    return got;
  }
  // A short step forward is read past: a seek would drop the buffer, and the
  // walk steps over every small stream.
  bool Seek(uint64_t offset) override {
    if (offset > Size()) return false;
    if (offset >= m_nPosition && offset - m_nPosition <= kBuffer) {
      uint8_t skipped[4096];
      while (m_nPosition < offset) {
        const size_t step = size_t(std::min<uint64_t>(offset - m_nPosition, sizeof skipped));
        if (Read(skipped, step) != step) break;
      }
      if (m_nPosition == offset) return true;
    }
    if (_fseeki64(m_pFile, int64_t(offset), SEEK_SET) != 0) return false;
    m_nPosition = offset;
    return true;
  }
  uint64_t Tell() override { return m_nPosition; }
  bool AtEnd() override { return m_nPosition >= Size(); }

 private:
  static constexpr size_t kBuffer = 1 << 16;
  uint64_t Size() {
    if (m_nSize < 0) {
      LARGE_INTEGER size;
      m_nSize = GetFileSizeEx(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(m_pFile))), &size) ? size.QuadPart : 0;
    }
    return uint64_t(m_nSize);
  }
  FILE* m_pFile;
  int64_t m_nSize = -1;
  uint64_t m_nPosition = 0;
};

class WinTargetFile : public TargetFile {
 public:
  explicit WinTargetFile(HANDLE file) : m_hFile(file) {}
  ~WinTargetFile() override { Close(); }
  bool Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      const DWORD piece = size > (1u << 30) ? (1u << 30) : DWORD(size);
      DWORD written = 0;
      if (!WriteFile(m_hFile, data, piece, &written, nullptr) || written != piece) return false;
      data += piece;
      size -= piece;
    }
    return true;
  }
  bool Close() override {
    if (m_hFile == INVALID_HANDLE_VALUE) return true;
    const bool ok = CloseHandle(m_hFile) != FALSE;
    m_hFile = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE m_hFile;
};

}  // namespace

std::u16string WinInstallFileSystem::PackagePath() { return OwnModulePath(); }

std::unique_ptr<PackageFile> WinInstallFileSystem::OpenPackage() {
  FILE* file = _wfopen(vx::ToWide(PackagePath()).c_str(), L"rb");
  if (!file) return nullptr;
  return std::make_unique<CPackageFile>(file);
}

bool WinInstallFileSystem::Exists(const std::u16string& path) {
  return GetFileAttributesW(vx::ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

DirectoryResult WinInstallFileSystem::MakeDirectory(const std::u16string& path) {
  if (CreateDirectoryW(vx::ToWide(path).c_str(), nullptr)) return DirectoryResult::Created;
  return GetLastError() == ERROR_ALREADY_EXISTS ? DirectoryResult::AlreadyExists : DirectoryResult::Failed;
}

void WinInstallFileSystem::ClearAttributes(const std::u16string& path) {
  SetFileAttributesW(vx::ToWide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
}

bool WinInstallFileSystem::InUse(const std::u16string& path) {
  const HANDLE h = CreateFileW(vx::ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;
  CloseHandle(h);
  return false;
}

std::unique_ptr<TargetFile> WinInstallFileSystem::OpenForWrite(const std::u16string& path) {
  const HANDLE h = CreateFileW(vx::ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WinTargetFile>(h);
}

void WinInstallFileSystem::Delete(const std::u16string& path) { DeleteFileW(vx::ToWide(path).c_str()); }

bool WinInstallFileSystem::RemoveEmptyFolder(const std::u16string& path) {
  return RemoveDirectoryW(vx::ToWide(path).c_str()) != FALSE;
}

}  // namespace setup
