#pragma once
// The payload's files: every regular file under the folder, in name order.
// Links to regular files are followed and packed under the link's own name;
// links to folders, dangling links and special files (FIFOs, sockets,
// devices) are refused with an error that names them, and so are two paths
// that differ only in letter case.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mkpackage {

struct SourceFile {
  std::filesystem::path path;
  std::u16string relative;  // backslashes
  uint64_t size;
};

bool CollectFiles(const std::filesystem::path& dir, std::vector<SourceFile>& files, std::string& error);

}  // namespace mkpackage
