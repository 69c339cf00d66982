#include "base/fs_path.h"
#include "tools/mkpackage/package_inspector.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/utf16.h"
#include "setup/package/lzma_stream.h"

namespace mkpackage {
namespace {

// Enough of the program image to hold the marker group.
constexpr size_t kImageScanLimit = 64 << 20;

}  // namespace

std::string PrintableText(const std::u16string& s) {
  std::u16string safe;
  std::string out;
  auto flush = [&] {
    out += vx::Utf16ToUtf8(safe);
    safe.clear();
  };
  for (char16_t c : s) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      flush();
      char code[16];
      std::snprintf(code, sizeof code, "\\u%04X", unsigned(c));
      out += code;
    } else {
      safe += c;
    }
  }
  flush();
  return out;
}

bool ReadPackageHead(const std::string& path, PackageInfo& info, std::string& error) {
  info = {};
  std::ifstream in(std::filesystem::path(vx::PathFromUtf8(path)), std::ios::binary);
  if (!in) {
    error = "cannot open \"" + path + "\"";
    return false;
  }
  std::error_code ec;
  const uint64_t fileSize = std::filesystem::file_size(std::filesystem::path(vx::PathFromUtf8(path)), ec);
  std::vector<uint8_t> image(
      ec ? kImageScanLimit : static_cast<size_t>(std::min<uint64_t>(fileSize, kImageScanLimit)));
  in.read(reinterpret_cast<char*>(image.data()), image.size());
  image.resize(static_cast<size_t>(in.gcount()));
  auto group = package::FindMarkerGroup(image.data(), image.size());
  if (!group) {
    error = "no single instance marker group: not a setup program";
    return false;
  }
  info.marker = *group;
  if (group->headerOffset == 0) {
    error = "no package attached (header offset 0)";
    return false;
  }
  package::FileSource source(path, group->headerOffset);
  if (!source.ok()) {
    error = "cannot seek to the header offset";
    return false;
  }
  size_t total = 0;
  const package::HeaderError he = package::ReadHeader(source, info.header, total);
  if (he != package::HeaderError::None) {
    error = std::string("header: ") + package::HeaderErrorText(he);
    return false;
  }
  info.payloadOffset = group->headerOffset + total;
  return true;
}

bool ReadPackage(const std::string& path, PackageInfo& info, std::string& error) {
  if (!ReadPackageHead(path, info, error)) return false;
  package::FileSource source(path, info.payloadOffset);
  const package::PayloadError pe = source.ok() ? package::ReadPayloadTable(source, info.payload)
                                               : package::PayloadError::ShortRead;
  if (pe != package::PayloadError::None) {
    error = std::string("payload: ") + package::PayloadErrorText(pe);
    const auto& entries = info.payload.entries;
    error += entries.empty() ? " (in its first entry)"
                             : " (after entry " + std::to_string(entries.size()) + ", \"" +
                                   PrintableText(entries.back().path) + "\")";
    return false;
  }
  return true;
}

void PrintInfo(const PackageInfo& info, std::ostream& out) {
  using namespace package;
  out << "role: " << RoleName(RoleOfMarker(info.marker.pair)) << "\n";
  out << "marker group at: " << info.marker.position << "\n";
  out << "header offset: " << info.marker.headerOffset << "\n";
  out << "payload offset: " << info.payloadOffset << "\n";
  const PackageHeader& h = info.header;
  for (const FixedField& f : FixedFields()) {
    out << f.name << ": ";
    if (f.text)
      out << '"' << PrintableText(h.*f.text) << "\"\n";
    else
      out << h.*f.number << "\n";
  }
  out << "AutostartPrograms: " << h.AutostartPrograms.size() << "\n";
  for (const auto& name : h.AutostartPrograms) out << "  \"" << PrintableText(name) << "\"\n";
  for (const ShortcutList& l : ShortcutLists()) {
    const auto& list = h.*l.list;
    out << l.name << ": " << list.size() << "\n";
    if (l.list == &PackageHeader::ProgramGroupShortcuts && !list.empty())
      for (const GroupNameField& g : GroupNameFields())
        out << "  " << g.name << ": \"" << PrintableText(h.*g.text) << "\"\n";
    for (const ShortcutEntry& e : list) {
      out << " ";
      for (const ShortcutField& f : ShortcutFields())
        out << " " << f.name << "=\"" << PrintableText(e.*f.text) << '"';
      out << "\n";
    }
  }
  out << "PackageKind: \"" << PrintableText(info.payload.PackageKind) << "\"\n";
  out << "files: " << info.payload.entries.size() << "\n";
  for (const PayloadEntry& e : info.payload.entries) {
    out << "  " << PrintableText(e.path) << "  ";
    if (e.streamSize == 0)
      out << "empty";
    else if (e.streamSize < kStreamHeaderSize)
      out << "short stream, " << e.streamSize << " bytes";
    else
      out << (IsStoredStream(e.streamHead) ? "stored" : "LZMA") << ", " << e.streamSize
          << " bytes, declared " << DeclaredSize(e.streamHead);
    out << "\n";
  }
  out << "ExtraFolders: " << info.payload.ExtraFolders.size() << "\n";
  for (const auto& f : info.payload.ExtraFolders) out << "  \"" << PrintableText(f) << "\"\n";
}

namespace {

// One entry's verdict: its "ok" line, or what is wrong with it.
struct Verdict {
  bool ready = false, ok = false;
  std::string text;
};

Verdict VerifyStream(std::ifstream& in, std::vector<uint8_t>& buffer, uint64_t at, const package::PayloadEntry& e) {
  const std::string name = PrintableText(e.path);
  if (e.streamSize == 0) return {true, true, "ok  " + name + " (empty)"};
  in.clear();
  in.seekg(static_cast<std::streamoff>(at));
  package::StreamDecoder decoder([](const uint8_t*, size_t) { return true; });
  package::StreamDecoder::Status status = package::StreamDecoder::Status::NeedInput;
  size_t left = e.streamSize;
  while (status == package::StreamDecoder::Status::NeedInput) {
    const size_t piece = std::min(left, buffer.size());
    in.read(reinterpret_cast<char*>(buffer.data()), piece);
    if (static_cast<size_t>(in.gcount()) != piece) return {true, false, name + ": stream ends early"};
    left -= piece;
    status = decoder.Feed(buffer.data(), piece, left == 0);
  }
  if (status != package::StreamDecoder::Status::Done) return {true, false, name + ": stream cannot be decoded"};
  if (decoder.Produced() == 0 || decoder.Produced() != decoder.Declared())
    return {true, false,
            name + ": decoded " + std::to_string(decoder.Produced()) + " bytes, declared " +
                std::to_string(decoder.Declared())};
  return {true, true,
          "ok  " + name + " (" + (decoder.Stored() ? "stored" : "lzma") + ", " + std::to_string(e.streamSize) +
              " -> " + std::to_string(decoder.Produced()) + ")"};
}

}  // namespace

bool VerifyPackage(const std::string& path, const PackageInfo& info, std::ostream& out, std::string& error,
                   unsigned threads) {
  const std::vector<package::PayloadEntry>& entries = info.payload.entries;
  if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(entries.size(), 1)));

  // Threads take the entries in order, each through a handle of its own; the
  // verdicts are printed in payload order as they come, up to the first bad one.
  std::vector<Verdict> verdicts(entries.size());
  std::mutex mutex;
  std::condition_variable decided;
  size_t next = 0, firstBad = entries.size();
  auto work = [&] {
    std::ifstream in(std::filesystem::path(vx::PathFromUtf8(path)), std::ios::binary);
    const bool opened = in.is_open();
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
      size_t i;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (next >= firstBad) return;
        i = next++;
      }
      Verdict v = opened ? VerifyStream(in, buffer, info.payloadOffset + entries[i].streamOffset, entries[i])
                     : Verdict{true, false, PrintableText(entries[i].path) + ": package cannot be opened"};
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (!v.ok) firstBad = std::min(firstBad, i);
        verdicts[i] = std::move(v);
      }
      decided.notify_all();
    }
  };
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  if (workers.empty()) work();  // no thread: this one decodes them all first

  bool ok = true;
  for (size_t i = 0; i < entries.size(); ++i) {
    std::unique_lock<std::mutex> lock(mutex);
    decided.wait(lock, [&] { return verdicts[i].ready; });
    Verdict v = std::move(verdicts[i]);
    lock.unlock();
    if (!v.ok) {
      error = v.text;
      ok = false;
      break;
    }
    out << v.text << "\n";
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    firstBad = 0;  // the rest need not be decoded
  }
  for (std::thread& w : workers) w.join();
  return ok;
}

}  // namespace mkpackage
