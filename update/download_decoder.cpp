#include "update/download_decoder.h"

#include "base/file_ops.h"
#include "base/binary_file.h"
#include "base/fs_path.h"
#include "base/utf16.h"
#include "update/download_file.h"
#include "update/update_log.h"

namespace fs = std::filesystem;

namespace update {
namespace {

bool Fail(UpdateLog* log, std::string& error, std::string message) {
  error = std::move(message);
  if (log) log->Write("Uncompress file error. " + error);
  return false;
}

}  // namespace

std::string DigestOfIdentity(const std::u16string& id) {
  if (id.size() != 32) return {};
  std::string out;
  for (char16_t c : id) {
    if (c >= u'A' && c <= u'F') c = char16_t(c - u'A' + u'a');
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return {};
    out.push_back(char(c));
  }
  return out;
}

bool DecodeDownloadedFile(const DecodeJob& job, UpdateLog* log, std::string& error) {
  const std::string source = vx::PathToUtf8(job.temporary);
  if (!vx::IsFile(job.temporary)) {
    error = "src file not exist : " + source + ".";
    if (log) log->Write("Uncompress file error. " + error);
    return false;
  }
  std::vector<uint8_t> packed;
  {
    vx::BinaryFile in(job.temporary, vx::BinaryFile::Mode::Read);
    const int64_t size = in.Size();
    if (!in.IsOpen() || size < 0) return Fail(log, error, "cannot open " + source);
    packed.resize(size_t(size));
    if (in.Read(packed.data(), packed.size()) != packed.size()) return Fail(log, error, "cannot read " + source);
  }
  std::vector<uint8_t> data;
  std::string why;
  if (!DecodeDownloadFile(packed.data(), packed.size(), data, why)) return Fail(log, error, source + ": " + why);
  if (data.size() != job.expectedSize)
    return Fail(log, error, source + ": " + std::to_string(data.size()) + " bytes, the file list says " +
                                std::to_string(job.expectedSize));
  if (!packed.empty() || !job.expectedDigest.empty()) {
    const std::string digest = Md5Hex(data.data(), data.size());
    DownloadFileHeader header;
    if (!packed.empty() && ReadDownloadFileHeader(packed.data(), packed.size(), header, why) &&
        !header.digest.empty() && header.digest != digest)
      return Fail(log, error, source + ": data does not match its digest");
    if (!job.expectedDigest.empty() && job.expectedDigest != digest)
      return Fail(log, error, source + ": data does not match the file list's digest");
  }
  if (job.final.has_parent_path()) vx::CreateFolders(job.final.parent_path());
  {
    vx::BinaryFile out(job.final, vx::BinaryFile::Mode::Create);
    if (!out.IsOpen()) return Fail(log, error, "cannot create " + vx::PathToUtf8(job.final));
    out.Write(data.data(), data.size());
    if (!out.Close()) return Fail(log, error, "cannot write " + vx::PathToUtf8(job.final));
  }
  vx::RemovePath(job.temporary);
  return true;
}

void DecodeWorkers::Start(DecodeJob job, Done done) {
  std::lock_guard<std::mutex> g(m_lock);
  m_threads.emplace_back([this, job = std::move(job), done = std::move(done)] {
    std::string error;
    const bool ok = DecodeDownloadedFile(job, m_log, error);
    if (done) done(job.nFileID, ok, error);
  });
}

void DecodeWorkers::JoinAll() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> g(m_lock);
    threads.swap(m_threads);
  }
  for (std::thread& t : threads)
    if (t.joinable()) t.join();
}

}  // namespace update
