#pragma once
// Whole-file reads and safe replacement of configuration files. Paths are
// Windows paths (backslashes); on other hosts backslashes become slashes.
#include "base/file_path.h"
#include <optional>
#include <string>
#include <string_view>

namespace setup::config {

vx::FilePath ToFsPath(std::u16string_view path);

bool FileExists(std::u16string_view path);
bool FolderExists(std::u16string_view path);

// The file's bytes, read in binary; nullopt when it cannot be read.
std::optional<std::string> ReadFileBytes(std::u16string_view path);

// Writes `bytes` to a new temporary file in the file's folder and only after
// a complete write puts it in the file's place. On failure the temporary file
// is removed and the file is as it was.
bool ReplaceFileBytes(std::u16string_view path, std::string_view bytes);

}  // namespace setup::config
