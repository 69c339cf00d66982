#include "update/download_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "base/binary_file.h"
#include "base/file_ops.h"
#include "base/fs_path.h"
#include "base/utf16.h"
#include "net/md5_digest.h"
#include "update/download_file.h"
#include "update/update_log.h"


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

namespace {

constexpr size_t kDecodeChunk = 256 * 1024;  // read, inflated, hashed and written at a time

struct Inflater {
  z_stream z{};
  bool open = false;
  Inflater() { open = inflateInit(&z) == Z_OK; }
  ~Inflater() {
    if (open) inflateEnd(&z);
  }
};

}  // namespace

// The data is inflated, hashed and written piece by piece, so memory does not
// grow with the file; it goes to a file beside the final one that replaces
// the final file only once length and digests are right.
bool DecodeDownloadedFile(const DecodeJob& job, UpdateLog* log, std::string& error) {
  const std::string source = vx::PathToUtf8(job.temporary);
  if (!vx::IsFile(job.temporary)) {
    error = "src file not exist : " + source + ".";
    if (log) log->Write("Uncompress file error. " + error);
    return false;
  }
  vx::BinaryFile in(job.temporary, vx::BinaryFile::Mode::Read);
  const int64_t fileSize = in.Size();
  if (!in.IsOpen() || fileSize < 0) return Fail(log, error, "cannot open " + source);
  const uint64_t size = uint64_t(fileSize);
  std::vector<uint8_t> input(kDecodeChunk), output(kDecodeChunk);
  DownloadFileHeader header;
  std::string why;
  size_t first = 0;  // bytes of the first read
  if (size > 0) {
    first = in.Read(input.data(), size_t(std::min<uint64_t>(size, input.size())));
    if (!ReadDownloadFileHeader(input.data(), first, size, header, why))
      return Fail(log, error, source + ": " + why);
    if (!PlausibleDownloadLengths(header))
      return Fail(log, error, source + ": download file header claims an impossible uncompressed length");
  }
  const uint64_t length = size > 0 ? header.uncompressedLength : 0;
  if (length != job.expectedSize)
    return Fail(log, error, source + ": " + std::to_string(length) + " bytes, the file list says " +
                                std::to_string(job.expectedSize));

  if (job.final.has_parent_path()) vx::CreateFolders(job.final.parent_path());
  vx::FilePath part = job.final;
  part += vx::PathFromUtf8(".part!").native();
  vx::BinaryFile out(part, vx::BinaryFile::Mode::Create);
  if (!out.IsOpen()) return Fail(log, error, "cannot create " + vx::PathToUtf8(job.final));
  auto failed = [&](std::string message) {
    out.Close();
    vx::RemovePath(part);
    return Fail(log, error, std::move(message));
  };

  net::Md5Digest md5;
  if (size > 0) {
    Inflater inflater;
    if (!inflater.open) return failed(source + ": zlib cannot start");
    z_stream& z = inflater.z;
    // The first read holds the header and the start of the stream.
    size_t inputBytes = first - header.headerSize;
    uint64_t unread = uint64_t(header.compressedLength) - inputBytes;
    std::memmove(input.data(), input.data() + header.headerSize, inputBytes);
    z.next_in = input.data();
    z.avail_in = uInt(inputBytes);
    uint64_t produced = 0;
    int r = Z_OK;
    while (r != Z_STREAM_END) {
      if (z.avail_in == 0 && unread > 0) {
        const size_t n = size_t(std::min<uint64_t>(unread, input.size()));
        if (in.Read(input.data(), n) != n) return failed("cannot read " + source);
        unread -= n;
        z.next_in = input.data();
        z.avail_in = uInt(n);
      }
      z.next_out = output.data();
      z.avail_out = uInt(output.size());
      r = inflate(&z, Z_NO_FLUSH);
      const size_t n = output.size() - z.avail_out;
      if (r != Z_OK && r != Z_STREAM_END && !(r == Z_BUF_ERROR && n > 0))
        return failed(source + ": download file data is not a sound zlib stream");
      if (r == Z_BUF_ERROR && z.avail_in == 0 && unread == 0 && n == 0)
        return failed(source + ": download file data is not a sound zlib stream");
      produced += n;
      if (produced > length)
        return failed(source + ": download file decompresses to more than the " + std::to_string(length) +
                      " bytes its header says");
      md5.Add(output.data(), n);
      if (n && !out.Write(output.data(), n)) return failed("cannot write " + vx::PathToUtf8(job.final));
      if (r != Z_STREAM_END && z.avail_in == 0 && unread == 0 && z.avail_out != 0)
        return failed(source + ": download file data is not a sound zlib stream");  // ends before its end
    }
    if (produced != length)
      return failed(source + ": download file decompresses to " + std::to_string(produced) +
                    " bytes, its header says " + std::to_string(length));
  }
  if (size > 0 || !job.expectedDigest.empty()) {
    const std::string digest = md5.Hex();
    if (!header.digest.empty() && header.digest != digest) return failed(source + ": data does not match its digest");
    if (!job.expectedDigest.empty() && job.expectedDigest != digest)
      return failed(source + ": data does not match the file list's digest");
  }
  if (!out.Close()) return failed("cannot write " + vx::PathToUtf8(job.final));
  if (!vx::RenameReplacing(part, job.final)) return failed("cannot write " + vx::PathToUtf8(job.final));
  in.Close();  // Windows deletes no open file
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
