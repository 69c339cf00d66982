#include "setup/integration/config_file_io.h"

#include <cstdio>
#include <system_error>

#include "base/file_ops.h"
#include "base/binary_file.h"
#include "base/utf16.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace setup::config {

vx::FilePath ToFsPath(std::u16string_view path) {
#ifdef _WIN32
  return vx::FilePath(vx::ToWide(path));
#else
  std::u16string p(path);
  for (auto& c : p)
    if (c == u'\\') c = u'/';
  const std::string utf8 = vx::Utf16ToUtf8(p);
  return vx::FilePath(utf8);
#endif
}

bool FileExists(std::u16string_view path) {
  return !path.empty() && vx::IsFile(ToFsPath(path));
}

bool FolderExists(std::u16string_view path) {
  return !path.empty() && vx::IsFolder(ToFsPath(path));
}

std::optional<std::string> ReadFileBytes(std::u16string_view path) {
  return vx::ReadWholeFile(ToFsPath(path));
}

namespace {

bool MoveOver(const vx::FilePath& from, const vx::FilePath& to) {
#ifdef _WIN32
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

bool ReplaceFileBytes(std::u16string_view path, std::string_view bytes) {
  const vx::FilePath target = ToFsPath(path);
  vx::FilePath temp;
  for (int i = 0; i < 100; ++i) {
    const std::string number = std::to_string(i);
    vx::FilePath candidate = ToFsPath(std::u16string(path) + u".~" + std::u16string(number.begin(), number.end()));
    if (!vx::PathExists(candidate)) {
      temp = candidate;
      break;
    }
  }
  if (temp.empty()) return false;
  if (vx::WriteWholeFile(temp, bytes) && MoveOver(temp, target)) return true;
  vx::RemovePath(temp);
  return false;
}

}  // namespace setup::config
