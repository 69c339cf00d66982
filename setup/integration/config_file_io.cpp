#include "setup/integration/config_file_io.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

#include "base/utf16.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace setup::config {
namespace fs = std::filesystem;

fs::path ToFsPath(std::u16string_view path) {
#ifdef _WIN32
  return fs::path(vx::ToWide(path));
#else
  std::u16string p(path);
  for (auto& c : p)
    if (c == u'\\') c = u'/';
  const std::string utf8 = vx::Utf16ToUtf8(p);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
#endif
}

bool FileExists(std::u16string_view path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(ToFsPath(path), ec);
}

bool FolderExists(std::u16string_view path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(ToFsPath(path), ec);
}

std::optional<std::string> ReadFileBytes(std::u16string_view path) {
  std::ifstream in(ToFsPath(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

namespace {

bool MoveOver(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

bool ReplaceFileBytes(std::u16string_view path, std::string_view bytes) {
  const fs::path target = ToFsPath(path);
  std::error_code ec;
  fs::path temp;
  for (int i = 0; i < 100; ++i) {
    fs::path candidate = target;
    candidate += ".~" + std::to_string(i);
    if (!fs::exists(candidate, ec) && !ec) {
      temp = candidate;
      break;
    }
  }
  if (temp.empty()) return false;
  bool written;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    written = out.good();
    if (written) {
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      out.flush();
      written = out.good();
    }
    out.close();
    written = written && !out.fail();
  }
  if (written && MoveOver(temp, target)) return true;
  fs::remove(temp, ec);
  return false;
}

}  // namespace setup::config
