#include "tools/update_server/publisher.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/fs_path.h"
#include "base/path_case.h"
#include "base/utf16.h"
#include "update/download_file.h"
#include "update/update_messages.h"

#include <unistd.h>

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

// Why a product file's name cannot be a file key, or empty: the key is a
// Windows path below the installation folder on the client.
std::string KeyProblem(const fs::path& relative) {
  const std::string text = relative.native();
  if (vx::Utf16ToUtf8(vx::Utf8ToUtf16(text)) != text) return "its name is not valid UTF-8";
  for (const auto& part : relative) {
    const std::string name = part.native();
    for (unsigned char c : name) {
      if (c < 0x20) return "its name holds a control character";
      if (std::string_view("\\:*?\"<>|").find(char(c)) != std::string_view::npos)
        return std::string("its name holds '") + char(c) + "', which a Windows path cannot hold";
    }
    if (name.back() == '.' || name.back() == ' ') return "its name ends with a dot or a space";
  }
  return {};
}

// An earlier publication holds version.txt, the file list and files/ only.
bool IsPublication(const fs::path& folder) {
  std::error_code ec;
  bool version = false;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().native();
    if (name == "version.txt") {
      std::ifstream in(entry.path(), std::ios::binary);
      std::string first;
      std::getline(in, first);
      version = first.rfind("version=", 0) == 0;
    } else if (name != kFileListName && !(name == "files" && entry.is_directory(ec))) {
      return false;
    }
  }
  return !ec && version;
}

bool Inside(const fs::path& inner, const fs::path& outer) {
  auto i = inner.begin();
  for (auto o = outer.begin(); o != outer.end(); ++o, ++i)
    if (i == inner.end() || *i != *o) return false;
  return true;
}

}  // namespace

bool Build(const PublishOptions& options, const fs::path& files, const std::vector<fs::directory_entry>& entries,
           const fs::path& output, PublishSummary& summary, std::string& error);

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
  fs::path output = fs::weakly_canonical(options.output, ec);
  if (output.filename().empty()) output = output.parent_path();
  if (Inside(output, files) || Inside(files, output)) {
    error = "the output folder and the product folder must not contain each other";
    return false;
  }

  if (fs::is_symlink(options.output, ec)) {
    error = "the output folder is a symbolic link: " + vx::PathToUtf8(options.output);
    return false;
  }
  const bool replacing = fs::exists(output, ec);
  if (replacing) {
    if (!fs::is_directory(output, ec)) {
      error = "the output is not a folder: " + vx::PathToUtf8(output);
      return false;
    }
    if (!fs::is_empty(output, ec) && !IsPublication(output)) {
      error = "the output folder is neither empty nor an earlier publication: " + vx::PathToUtf8(output);
      return false;
    }
  }

  // Walk in a stable order: sorted by path. Every name is checked before
  // anything is written.
  std::vector<fs::directory_entry> entries;
  for (auto it = fs::recursive_directory_iterator(files, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_symlink()) {
      error = "symbolic links are not published: " + vx::PathToUtf8(it->path());
      return false;
    }
    if (!it->is_directory() && !it->is_regular_file()) {
      error = "neither a file nor a folder: " + vx::PathToUtf8(it->path());
      return false;
    }
    entries.push_back(*it);
  }
  if (ec) {
    error = "cannot list " + vx::PathToUtf8(files) + ": " + ec.message();
    return false;
  }
  if (entries.size() > update::kMaxFileListEntries) {
    error = "cannot publish " + std::to_string(entries.size()) + " files and folders: a client takes at most " +
            std::to_string(update::kMaxFileListEntries);
    return false;
  }
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
  std::map<std::u16string, fs::path> keys;
  for (const fs::directory_entry& entry : entries) {
    const fs::path relative = entry.path().lexically_relative(files);
    const std::string problem = KeyProblem(relative);
    if (!problem.empty()) {
      error = "cannot publish " + vx::PathToUtf8(entry.path()) + ": " + problem;
      return false;
    }
    // Keys that name the same file on Windows collide.
    auto [at, fresh] = keys.emplace(vx::FoldCase(KeyOf(relative)), relative);
    if (!fresh) {
      error = "cannot publish " + vx::PathToUtf8(entry.path()) + ": its key collides with that of " +
              vx::PathToUtf8(files / at->second);
      return false;
    }
  }

  // Built next to the output and put in its place only when complete.
  const fs::path parent = output.parent_path();
  const std::string base = output.filename().native();
  const fs::path building = parent / ("." + base + ".publishing-" + std::to_string(::getpid()));
  const fs::path previous = parent / ("." + base + ".previous-" + std::to_string(::getpid()));
  fs::remove_all(building, ec);
  fs::create_directories(building / "files", ec);
  if (ec) {
    error = "cannot create " + vx::PathToUtf8(building) + ": " + ec.message();
    return false;
  }
  struct Cleanup {
    fs::path path;
    ~Cleanup() {
      std::error_code e;
      if (!path.empty()) fs::remove_all(path, e);
    }
  } cleanup{building};
  if (!Build(options, files, entries, building, summary, error)) return false;
  if (replacing) {
    fs::remove_all(previous, ec);
    fs::rename(output, previous, ec);
    if (ec) {
      error = "cannot move the earlier publication aside: " + ec.message();
      return false;
    }
  }
  fs::rename(building, output, ec);
  if (ec) {
    error = "cannot put the publication in place: " + ec.message();
    if (replacing) fs::rename(previous, output, ec);
    return false;
  }
  cleanup.path = replacing ? previous : fs::path();
  return true;
}

bool Build(const PublishOptions& options, const fs::path& files, const std::vector<fs::directory_entry>& entries,
           const fs::path& output, PublishSummary& summary, std::string& error) {
  std::error_code ec;
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
