#include "base/fs_path.h"
#include "tools/mkpackage/file_collector.h"

#include <algorithm>
#include <map>

#include "base/fixed_field.h"
#include "base/path_case.h"
#include "base/path_join.h"
#include "base/utf16.h"
#include "setup/package/payload_table.h"

namespace fs = std::filesystem;

namespace mkpackage {

bool CollectFiles(const fs::path& dir, std::vector<SourceFile>& files, std::string& error) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    error = "--files: \"" + vx::PathToUtf8(dir) + "\" is not a folder";
    return false;
  }
  // Folder links are not followed: they are refused below.
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path relativePath = it->path().lexically_relative(dir);
    const std::string name = vx::PathToUtf8(relativePath);
    const fs::file_status own = it->symlink_status(ec);
    if (ec) break;
    fs::file_status target = own;
    if (fs::is_symlink(own)) {
      target = fs::status(it->path(), ec);
      if (ec || !fs::exists(target)) {
        error = "\"" + name + "\" is a dangling link";
        return false;
      }
      if (fs::is_directory(target)) {
        error = "\"" + name + "\" is a link to a folder (only links to files are followed)";
        return false;
      }
    } else if (fs::is_directory(own)) {
      continue;
    }
    if (!fs::is_regular_file(target)) {
      error = "\"" + name + "\" is not a regular file (FIFO, socket or device)";
      return false;
    }
    std::u16string rel = vx::Utf8ToUtf16(name);
    std::replace(rel.begin(), rel.end(), u'/', u'\\');
    if (!vx::IsSafeRelativePath(rel)) {
      error = "payload path \"" + name + "\" is not a plain relative path";
      return false;
    }
    if (rel.size() > vx::FieldCapacity(package::kPathFieldSize)) {
      error = "payload path \"" + name + "\" is longer than 259 characters";
      return false;
    }
    const uint64_t size = fs::file_size(it->path(), ec);  // follows a link
    if (ec) break;
    files.push_back({it->path(), rel, size});
  }
  if (ec) {
    error = "--files: cannot list \"" + vx::PathToUtf8(dir) + "\": " + ec.message();
    return false;
  }
  std::sort(files.begin(), files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.relative < b.relative; });
  // Windows would write both into one file.
  std::map<std::u16string, const SourceFile*> folded;
  for (const auto& file : files) {
    auto [at, fresh] = folded.emplace(vx::FoldCase(file.relative), &file);
    if (!fresh) {
      error = "payload paths \"" + vx::Utf16ToUtf8(at->second->relative) + "\" and \"" +
              vx::Utf16ToUtf8(file.relative) + "\" differ only in letter case (one file on Windows)";
      return false;
    }
  }
  return true;
}

}  // namespace mkpackage
