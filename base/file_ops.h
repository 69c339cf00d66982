#pragma once
// The few file-system operations the setup program needs. On Windows they are
// Win32 calls: the standard library's file-system operations drag file
// streams and the locale machinery into every package. Elsewhere they are
// the standard operations. None throws; failures return false (or -1).
#include <cstdint>
#include <filesystem>

namespace vx {

bool PathExists(const std::filesystem::path& path);
bool IsFile(const std::filesystem::path& path);
bool IsFolder(const std::filesystem::path& path);
// Size of a file in bytes, -1 when it is not a readable file.
int64_t FileSize(const std::filesystem::path& path);
// Creates the folder and any missing parents; true when it exists afterwards.
bool CreateFolders(const std::filesystem::path& path);
// Removes a file or an empty folder; true when nothing is left there.
bool RemovePath(const std::filesystem::path& path);
// Moves a file over another (replacing it) within one volume.
bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to);
bool ResizeFile(const std::filesystem::path& path, uint64_t size);
bool CopyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace vx
