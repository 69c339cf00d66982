#include "tools/update_server/publisher.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "base/fs_path.h"
#include "base/memory_budget.h"
#include "base/path_case.h"
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

namespace {

// One product file: read, compressed and written as its download file.
struct FileJob {
  const fs::directory_entry* entry = nullptr;
  fs::path relative;
  uint64_t size = 0;
  // Results.
  int32_t length = 0;
  std::u16string digest;
  uint64_t published = 0;
  bool done = false;
  std::string error;
};

// The file's bytes and its compressed copy are in memory together.
uint64_t MemoryOf(const FileJob& job) { return 2 * job.size + (64 << 10); }

void Encode(FileJob& job, const fs::path& output) {
  std::vector<uint8_t> data, published;
  if (!ReadFile(job.entry->path(), data)) {
    job.error = "cannot read " + vx::PathToUtf8(job.entry->path());
    return;
  }
  if (!update::EncodeDownloadFile(data, published)) {
    job.error = "too large to publish (2 GiB or more): " + vx::PathToUtf8(job.entry->path());
    return;
  }
  if (!WriteFile(output / "files" / job.relative, published)) {
    job.error = "cannot write the download file of " + vx::PathToUtf8(job.relative);
    return;
  }
  job.length = int32_t(data.size());
  job.digest = vx::Utf8ToUtf16(update::Md5Hex(data.data(), data.size()));
  job.published = published.size();
  job.done = true;
}

// Runs every job on `threads` threads, largest first, while the jobs in hand
// fit in `memory`; stops taking new ones after an error.
void EncodeAll(std::vector<FileJob>& jobs, const fs::path& output, unsigned threads, uint64_t memory,
               const std::function<void(const std::string&)>& progress) {
  std::vector<FileJob*> order;
  uint64_t total = 0;
  for (FileJob& job : jobs) order.push_back(&job), total += job.size;
  std::stable_sort(order.begin(), order.end(), [](const FileJob* a, const FileJob* b) { return a->size > b->size; });
  std::mutex lock;
  std::condition_variable changed;
  size_t next = 0, finished = 0;
  uint64_t inHand = 0, bytesDone = 0;
  bool failed = false;
  auto work = [&] {
    std::unique_lock<std::mutex> g(lock);
    for (;;) {
      changed.wait(g, [&] {
        return failed || next == order.size() || inHand == 0 || inHand + MemoryOf(*order[next]) <= memory;
      });
      if (failed || next == order.size()) return;
      FileJob& job = *order[next++];
      inHand += MemoryOf(job);
      g.unlock();
      Encode(job, output);
      g.lock();
      inHand -= MemoryOf(job);
      failed = failed || !job.error.empty();
      ++finished;
      bytesDone += job.size;
      changed.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (unsigned i = 0; i < std::max(1u, threads) && i < order.size(); ++i) pool.emplace_back(work);
  {
    std::unique_lock<std::mutex> g(lock);
    auto report = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!changed.wait_until(g, report, [&] { return finished == order.size() || (failed && inHand == 0); })) {
      report += std::chrono::seconds(1);
      if (!progress) continue;
      char line[128];
      std::snprintf(line, sizeof line, "publishing: %zu/%zu files, %llu/%llu MB", finished, order.size(),
                    static_cast<unsigned long long>(bytesDone >> 20), static_cast<unsigned long long>(total >> 20));
      progress(line);
    }
  }
  for (std::thread& t : pool) t.join();
}

}  // namespace

uint64_t DefaultPublishMemory() { return vx::MemoryBudgetFor(vx::PhysicalMemory()); }

bool Build(const PublishOptions& options, const fs::path& files, const std::vector<fs::directory_entry>& entries,
           const fs::path& output, PublishSummary& summary, std::string& error) {
  std::error_code ec;
  std::vector<FileJob> jobs;
  for (const fs::directory_entry& entry : entries) {
    if (entry.is_directory()) {
      fs::create_directories(output / "files" / entry.path().lexically_relative(files), ec);
    } else if (entry.is_regular_file()) {
      FileJob job;
      job.entry = &entry;
      job.relative = entry.path().lexically_relative(files);
      job.size = entry.file_size(ec);
      if (job.relative.has_parent_path()) fs::create_directories(output / "files" / job.relative.parent_path(), ec);
      jobs.push_back(std::move(job));
    }
  }
  EncodeAll(jobs, output, options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency()),
            options.memory ? options.memory : DefaultPublishMemory(), options.progress);

  // The list in walk order, whatever order the files were done in.
  std::vector<update::FileInfo> list;
  int32_t nextId = 1;
  size_t fileIndex = 0;
  for (const fs::directory_entry& entry : entries) {
    const fs::path relative = entry.path().lexically_relative(files);
    update::FileInfo info;
    info.nFileID = nextId++;
    info.strFileKey = KeyOf(relative);
    if (entry.is_directory()) {
      info.type = update::kFileTypeDirectory;
      ++summary.directories;
    } else if (entry.is_regular_file()) {
      const FileJob& job = jobs[fileIndex++];
      if (!job.error.empty()) {
        error = job.error;
        return false;
      }
      if (!job.done) {
        error = "not published (an earlier file failed): " + vx::PathToUtf8(entry.path());
        return false;
      }
      info.type = 0;
      info.size = job.length;
      info.fileIdText = job.digest;
      ++summary.files;
      summary.bytes += uint64_t(job.length);
      summary.publishedBytes += job.published;
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
