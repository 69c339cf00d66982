#pragma once
// Publishing a product folder for online installs: the file list and one
// compressed download file per product file, plus the published version.
//
// Layout of a published folder:
//   version.txt       "version=<V>", "build=<N>", "filelist=FileInfo.info"
//   FileInfo.info     the file list (count + FileInfo records)
//   files/<key>       the download file of each product file, under its key
//                     with "/" separators
#include <cstdint>
#include <filesystem>
#include <string>

namespace update_server {

struct PublishOptions {
  std::filesystem::path files;   // the product folder
  std::string version;           // e.g. "v4.0.2026"
  int32_t build = 0;
  std::filesystem::path output;  // created or emptied; must not lie inside `files`
};

struct PublishSummary {
  size_t directories = 0, files = 0;
  uint64_t bytes = 0, publishedBytes = 0;
};

inline constexpr char kFileListName[] = "FileInfo.info";

// False with `error`; on error the output folder holds no partial file list.
bool Publish(const PublishOptions& options, PublishSummary& summary, std::string& error);

}  // namespace update_server
