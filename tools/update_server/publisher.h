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
#include <functional>
#include <string>

namespace update_server {

struct PublishOptions {
  std::filesystem::path files;   // the product folder
  std::string version;           // e.g. "v4.0.2026"
  int32_t build = 0;
  // Created, or replaced when it is empty or an earlier publication; built
  // beside it and renamed into place when complete. Not inside `files`.
  std::filesystem::path output;
  // Files are compressed side by side on this many threads (0: every core),
  // while the files in hand fit in `memory` bytes (0: DefaultPublishMemory);
  // a file larger than that is compressed alone. The publication is the
  // same whatever both are.
  unsigned threads = 0;
  uint64_t memory = 0;
  // Called about once a second while files are compressed.
  std::function<void(const std::string& line)> progress;
};

// A quarter of the machine's memory, at most 2 GiB.
uint64_t DefaultPublishMemory();

struct PublishSummary {
  size_t directories = 0, files = 0;
  uint64_t bytes = 0, publishedBytes = 0;
};

inline constexpr char kFileListName[] = "FileInfo.info";

// False with `error` (naming the file at fault); on error the output folder
// is as it was.
bool Publish(const PublishOptions& options, PublishSummary& summary, std::string& error);

}  // namespace update_server
