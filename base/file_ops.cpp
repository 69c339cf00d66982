#include "base/file_ops.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vx {

#ifdef _WIN32

namespace {

DWORD Attributes(const vx::FilePath& path) { return GetFileAttributesW(path.c_str()); }

}  // namespace

bool PathExists(const vx::FilePath& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsFile(const vx::FilePath& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const vx::FilePath& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

int64_t FileSize(const vx::FilePath& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return int64_t((uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool CreateFolders(const vx::FilePath& path) {
  if (path.empty()) return false;
  if (IsFolder(path)) return true;
  const vx::FilePath parent = path.parent_path();
  // A root ("C:\", "\\server\share\") has itself as parent.
  if (!parent.empty() && parent != path && !CreateFolders(parent)) return false;
  return CreateDirectoryW(path.c_str(), nullptr) || IsFolder(path);
}

bool RemovePath(const vx::FilePath& path) {
  const DWORD a = Attributes(path);
  if (a == INVALID_FILE_ATTRIBUTES) return true;
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) != 0 : DeleteFileW(path.c_str()) != 0;
}

bool RenameReplacing(const vx::FilePath& from, const vx::FilePath& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool ResizeFile(const vx::FilePath& path, uint64_t size) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = LONGLONG(size);
  const bool ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  return ok;
}

bool CopyFileReplacing(const vx::FilePath& from, const vx::FilePath& to) {
  return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

#else

namespace fs = std::filesystem;

bool PathExists(const vx::FilePath& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

bool IsFile(const vx::FilePath& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

bool IsFolder(const vx::FilePath& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

int64_t FileSize(const vx::FilePath& path) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  return ec ? -1 : int64_t(size);
}

bool CreateFolders(const vx::FilePath& path) {
  std::error_code ec;
  if (path.empty()) return false;
  fs::create_directories(path, ec);
  return fs::is_directory(path, ec);
}

bool RemovePath(const vx::FilePath& path) {
  std::error_code ec;
  fs::remove(path, ec);
  return !fs::exists(fs::symlink_status(path, ec));
}

bool RenameReplacing(const vx::FilePath& from, const vx::FilePath& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  return !ec;
}

bool ResizeFile(const vx::FilePath& path, uint64_t size) {
  std::error_code ec;
  fs::resize_file(path, size, ec);
  return !ec;
}

bool CopyFileReplacing(const vx::FilePath& from, const vx::FilePath& to) {
  std::error_code ec;
  return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec;
}

#endif

}  // namespace vx
