#include "tools/update_server/publisher.h"

#include <algorithm>
#include <fstream>
#include <system_error>
#include <vector>

#include "base/fs_path.h"
#include "base/utf16.h"
#include "update/download_file.h"
#include "update/update_messages.h"

namespace fs = std::filesystem;

namespace update_server {
namespace {

bool ReadFile(const fs::path& path, std::vector<uint8_t>& data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data.assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

bool WriteFile(const fs::path& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  out.close();
  return bool(out);
}

// "dir/sub/file" -> u"dir\sub\file".
std::u16string KeyOf(const fs::path& relative) {
  std::u16string key = vx::Utf8ToUtf16(vx::PathToUtf8(relative));
  std::replace(key.begin(), key.end(), u'/', u'\\');
  return key;
}

bool Inside(const fs::path& inner, const fs::path& outer) {
  auto i = inner.begin();
  for (auto o = outer.begin(); o != outer.end(); ++o, ++i)
    if (i == inner.end() || *i != *o) return false;
  return true;
}

}  // namespace

bool Publish(const PublishOptions& options, PublishSummary& summary, std::string& error) {
  std::error_code ec;
  if (!fs::is_directory(options.files, ec)) {
    error = "not a folder: " + vx::PathToUtf8(options.files);
    return false;
  }
  if (options.version.empty() || options.version.find_first_of("\r\n") != std::string::npos) {
    error = "the version must be one non-empty line";
    return false;
  }
  const fs::path files = fs::weakly_canonical(options.files, ec);
  const fs::path output = fs::weakly_canonical(options.output, ec);
  if (Inside(output, files) || Inside(files, output)) {
    error = "the output folder and the product folder must not contain each other";
    return false;
  }

  // Walk in a stable order: sorted by path.
  std::vector<fs::directory_entry> entries;
  for (auto it = fs::recursive_directory_iterator(files, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_symlink()) {
      error = "symbolic links are not published: " + vx::PathToUtf8(it->path());
      return false;
    }
    entries.push_back(*it);
  }
  if (ec) {
    error = "cannot list " + vx::PathToUtf8(files) + ": " + ec.message();
    return false;
  }
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });

  fs::remove_all(output, ec);
  fs::create_directories(output / "files", ec);
  if (ec) {
    error = "cannot create " + vx::PathToUtf8(output) + ": " + ec.message();
    return false;
  }

  std::vector<update::FileInfo> list;
  int32_t nextId = 1;
  for (const fs::directory_entry& entry : entries) {
    const fs::path relative = entry.path().lexically_relative(files);
    update::FileInfo info;
    info.nFileID = nextId++;
    info.strFileKey = KeyOf(relative);
    if (entry.is_directory()) {
      info.type = update::kFileTypeDirectory;
      fs::create_directories(output / "files" / relative, ec);
      ++summary.directories;
    } else if (entry.is_regular_file()) {
      std::vector<uint8_t> data, published;
      if (!ReadFile(entry.path(), data)) {
        error = "cannot read " + vx::PathToUtf8(entry.path());
        return false;
      }
      if (!update::EncodeDownloadFile(data, published)) {
        error = "too large to publish (2 GiB or more): " + vx::PathToUtf8(entry.path());
        return false;
      }
      if (!WriteFile(output / "files" / relative, published)) {
        error = "cannot write the download file of " + vx::PathToUtf8(relative);
        return false;
      }
      info.type = 0;
      info.size = int32_t(data.size());
      info.fileIdText = vx::Utf8ToUtf16(update::Md5Hex(data.data(), data.size()));
      ++summary.files;
      summary.bytes += data.size();
      summary.publishedBytes += published.size();
    } else {
      error = "neither a file nor a folder: " + vx::PathToUtf8(entry.path());
      return false;
    }
    list.push_back(std::move(info));
  }

  // The file list and the version last: a folder without them is not published.
  if (!WriteFile(output / kFileListName, update::EncodeFileList(list))) {
    error = "cannot write the file list";
    return false;
  }
  const std::string version = "version=" + options.version + "\nbuild=" + std::to_string(options.build) +
                              "\nfilelist=" + kFileListName + "\n";
  if (!WriteFile(output / "version.txt", std::vector<uint8_t>(version.begin(), version.end()))) {
    error = "cannot write version.txt";
    return false;
  }
  return true;
}

}  // namespace update_server
