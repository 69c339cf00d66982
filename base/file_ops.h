#pragma once
// The few file-system operations the setup program needs. On Windows they are
// Win32 calls: the standard library's file-system operations drag file
// streams and the locale machinery into every package. Elsewhere they are
// the standard operations. None throws; failures return false (or -1).
#include <cstdint>
#include "base/file_path.h"

namespace vx {

bool PathExists(const vx::FilePath& path);
bool IsFile(const vx::FilePath& path);
bool IsFolder(const vx::FilePath& path);
// Size of a file in bytes, -1 when it is not a readable file.
int64_t FileSize(const vx::FilePath& path);
// Creates the folder and any missing parents; true when it exists afterwards.
bool CreateFolders(const vx::FilePath& path);
// Removes a file or an empty folder; true when nothing is left there.
bool RemovePath(const vx::FilePath& path);
// Moves a file over another (replacing it) within one volume.
bool RenameReplacing(const vx::FilePath& from, const vx::FilePath& to);
bool ResizeFile(const vx::FilePath& path, uint64_t size);
bool CopyFileReplacing(const vx::FilePath& from, const vx::FilePath& to);

}  // namespace vx
