#include "setup/uninstall/uninstall_record.h"

#include "base/fixed_field.h"
#include "base/le_int.h"
#include "base/path_case.h"

namespace setup {
namespace {

// Fields go into a piece of at most 64 KiB, handed to the sink when full and
// at the end.
class RecordWriter {
 public:
  RecordWriter(const RecordSink& sink, std::string& error) : m_sink(sink), m_error(error) {}
  ~RecordWriter() { Flush(); }

  bool Text(const char* name, std::u16string_view text, size_t width) {
    const size_t at = Room(width);
    if (vx::EncodeFixedField(text, width, m_piece.data() + at)) return true;
    m_error = vx::FieldTooLongError(name, text.size(), width);
    return false;
  }
  void Number(int64_t value) { vx::WriteLE32(m_piece.data() + Room(4), uint32_t(value)); }
  bool Paths(const char* name, const std::vector<std::u16string>& paths, size_t width) {
    for (const auto& p : paths)
      if (!Text(name, p, width)) return false;
    return true;
  }

 private:
  static constexpr size_t kPiece = 64 * 1024;
  // Makes `n` bytes at the piece's end; their offset.
  size_t Room(size_t n) {
    if (m_piece.size() + n > kPiece) Flush();
    const size_t at = m_piece.size();
    m_piece.resize(at + n);
    return at;
  }
  void Flush() {
    if (!m_piece.empty()) m_sink(m_piece.data(), m_piece.size());
    m_piece.clear();
  }

  const RecordSink& m_sink;
  std::string& m_error;
  std::vector<uint8_t> m_piece;
};

std::u16string WithoutTrailingBackslash(std::u16string path) {
  if (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

}  // namespace

bool EncodeUninstallRecord(const SetupState& s, std::vector<uint8_t>& out, std::string& error) {
  return EncodeUninstallRecord(
      s, [&out](const uint8_t* data, size_t size) { out.insert(out.end(), data, data + size); }, error);
}

bool EncodeUninstallRecord(const SetupState& s, const RecordSink& sink, std::string& error) {
  if (s.InstalledFiles.size() != s.FileCount) {
    error = "installed-file list does not match FileCount";
    return false;
  }
  const package::PackageHeader& h = s.header;
  RecordWriter w(sink, error);
  if (!w.Text("ProductName", s.ProductName, vx::kField520) ||
      !w.Text("ProductNameEn", h.ProductNameEn, vx::kField520) ||
      !w.Text("VersionLabel", h.VersionLabel, vx::kField80) || !w.Text("MainExe", h.MainExe, vx::kField80) ||
      !w.Text("ProductID", h.ProductID, vx::kField80) ||
      !w.Text("InstallDir", WithoutTrailingBackslash(s.InstallDir), vx::kField520))
    return false;
  w.Number(s.FileCount);
  w.Number(s.Language);
  w.Number(h.BannerVariant);
  w.Number(int64_t(h.AutostartPrograms.size()));
  if (!w.Paths("AutostartPrograms", h.AutostartPrograms, vx::kField80) ||
      !w.Paths("InstalledFiles", s.InstalledFiles, vx::kField520))
    return false;
  w.Number(int64_t(s.CreatedGroupShortcuts.size()));
  if (!w.Text("ProgramGroupFolder", s.ProgramGroupFolder, vx::kField520) ||
      !w.Paths("program-group shortcut", s.CreatedGroupShortcuts, vx::kField520))
    return false;
  for (const auto* list : {&s.CreatedStartMenuShortcuts, &s.CreatedDesktopShortcuts, &s.CreatedQuickLaunchShortcuts}) {
    w.Number(int64_t(list->size()));
    if (!w.Paths("shortcut", *list, vx::kField520)) return false;
  }
  // Trailer. A spool setting too long for its field is left out (not known)
  // rather than costing the uninstaller.
  const bool spool = s.SpoolFolderKnown && s.PreviousSpoolFolder.size() <= vx::FieldCapacity(vx::kField520);
  w.Number(kRecordTrailerMagic);
  w.Number(2 + (spool ? 1 : 0) + (s.CreatedFoldersKnown ? 1 : 0) + (s.PlacedComponents.empty() ? 0 : 1));
  w.Number(kTagInstallDirCreated);
  w.Number(4);
  w.Number(s.InstallDirCreated ? 1 : 0);
  w.Number(kTagComponentKind);
  w.Number(4);
  w.Number(s.ComponentKind);
  if (spool) {
    w.Number(kTagSpoolFolder);
    w.Number(int64_t(vx::kField520));
    if (!w.Text("previous spool folder", s.PreviousSpoolFolder, vx::kField520)) return false;
  }
  if (s.CreatedFoldersKnown) {
    w.Number(kTagCreatedFolders);
    w.Number(int64_t(s.CreatedFolders.size() * vx::kField520));
    if (!w.Paths("created folder", s.CreatedFolders, vx::kField520)) return false;
  }
  if (!s.PlacedComponents.empty()) {
    w.Number(kTagPlacedComponents);
    w.Number(int64_t(s.PlacedComponents.size() * vx::kField520));
    if (!w.Paths("placed component", s.PlacedComponents, vx::kField520)) return false;
  }
  return true;
}

namespace {

class RecordReader {
 public:
  RecordReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool Text(std::u16string& out, size_t width) {
    if (m_size - m_pos < width) return false;
    out = vx::DecodeFixedField(m_data + m_pos, width);
    m_pos += width;
    return true;
  }
  bool Count(int32_t& out, size_t entryWidth) {
    if (m_size - m_pos < 4) return false;
    out = int32_t(vx::ReadLE32(m_data + m_pos));
    m_pos += 4;
    return out >= 0 && size_t(out) <= (m_size - m_pos) / entryWidth;
  }
  bool Number(int32_t& out) {
    if (m_size - m_pos < 4) return false;
    out = int32_t(vx::ReadLE32(m_data + m_pos));
    m_pos += 4;
    return true;
  }
  bool Skip(size_t n) {
    if (m_size - m_pos < n) return false;
    m_pos += n;
    return true;
  }
  size_t Left() const { return m_size - m_pos; }
  bool Paths(std::vector<std::u16string>& out, int32_t count, size_t width) {
    out.clear();
    for (int32_t i = 0; i < count; ++i) {
      std::u16string path;
      if (!Text(path, width)) return false;
      out.push_back(std::move(path));
    }
    return true;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

// The optional trailer: absent (or not ours) is "nothing known"; a trailer
// that announces more than the record holds is damage (false).
bool ReadTrailer(RecordReader& r, SetupState& d) {
  int32_t magic = 0, entries = 0;
  if (r.Left() < 8) return true;
  if (!r.Number(magic) || uint32_t(magic) != kRecordTrailerMagic) return true;
  if (!r.Number(entries) || entries < 0 || size_t(entries) > r.Left() / 8) return false;
  for (int32_t i = 0; i < entries; ++i) {
    int32_t tag = 0, length = 0;
    if (!r.Number(tag) || !r.Number(length) || length < 0 || size_t(length) > r.Left()) return false;
    if (uint32_t(tag) == kTagInstallDirCreated && length == 4) {
      int32_t created = 0;
      r.Number(created);
      d.InstallDirCreated = created == 1;
    } else if (uint32_t(tag) == kTagComponentKind && length == 4) {
      int32_t kind = 0;
      r.Number(kind);
      if (kind == 0 || kind == 3 || kind == 4) {  // another kind is not ours to undo
        d.ComponentKind = kind;
        d.ComponentKindRecorded = true;
      }
    } else if (uint32_t(tag) == kTagSpoolFolder && size_t(length) == vx::kField520) {
      r.Text(d.PreviousSpoolFolder, vx::kField520);
      d.SpoolFolderKnown = true;
    } else if (uint32_t(tag) == kTagCreatedFolders && size_t(length) % vx::kField520 == 0) {
      if (!r.Paths(d.CreatedFolders, int32_t(size_t(length) / vx::kField520), vx::kField520)) return false;
      d.CreatedFoldersKnown = true;
    } else if (uint32_t(tag) == kTagPlacedComponents && size_t(length) % vx::kField520 == 0) {
      if (!r.Paths(d.PlacedComponents, int32_t(size_t(length) / vx::kField520), vx::kField520)) return false;
    } else if (!r.Skip(size_t(length))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool DecodeUninstallRecord(const uint8_t* data, size_t size, const std::u16string& installDir, SetupState& s,
                           std::string& error) {
  RecordReader r(data, size);
  SetupState d = s;
  package::PackageHeader& h = d.header;
  std::u16string folder;
  int32_t fileCount = 0, language = 0, banner = 0, count = 0;
  if (!r.Text(d.ProductName, vx::kField520) || !r.Text(h.ProductNameEn, vx::kField520) ||
      !r.Text(h.VersionLabel, vx::kField80) || !r.Text(h.MainExe, vx::kField80) ||
      !r.Text(h.ProductID, vx::kField80) || !r.Text(folder, vx::kField520) || !r.Number(fileCount) ||
      !r.Number(language) || !r.Number(banner)) {
    error = "the uninstall record is cut short";
    return false;
  }
  if (!vx::SamePathIgnoringCase(folder, WithoutTrailingBackslash(installDir))) {
    error = "the uninstall record belongs to another folder";
    return false;
  }
  if (fileCount < 0 || !r.Count(count, vx::kField80) || !r.Paths(h.AutostartPrograms, count, vx::kField80) ||
      size_t(fileCount) > size / vx::kField520 || !r.Paths(d.InstalledFiles, fileCount, vx::kField520)) {
    error = "the uninstall record's lists do not fit it";
    return false;
  }
  if (!r.Count(count, vx::kField520) || !r.Text(d.ProgramGroupFolder, vx::kField520) ||
      !r.Paths(d.CreatedGroupShortcuts, count, vx::kField520)) {
    error = "the uninstall record's program-group section does not fit it";
    return false;
  }
  for (auto* list : {&d.CreatedStartMenuShortcuts, &d.CreatedDesktopShortcuts, &d.CreatedQuickLaunchShortcuts}) {
    if (!r.Count(count, vx::kField520) || !r.Paths(*list, count, vx::kField520)) {
      error = "the uninstall record's shortcut sections do not fit it";
      return false;
    }
  }
  const auto nothingKnown = [](SetupState& x) {
    x.InstallDirCreated = false;
    x.CreatedFoldersKnown = false;
    x.CreatedFolders.clear();
    x.ComponentKind = 0;
    x.ComponentKindRecorded = false;
    x.SpoolFolderKnown = false;
    x.PreviousSpoolFolder.clear();
    x.PlacedComponents.clear();
  };
  nothingKnown(d);
  if (!ReadTrailer(r, d)) nothingKnown(d);  // damaged: as if there were none
  d.InstallDir = folder;  // the spelling the install used
  d.FileCount = uint32_t(fileCount);
  d.Language = language;
  h.BannerVariant = banner;
  s = std::move(d);
  return true;
}

bool MarkAsUninstaller(std::vector<uint8_t>& image, const package::MarkerPair& running, uint32_t headerOffset) {
  const auto found = package::FindMarkerPositions(image.data(), image.size(), running);
  size_t at = image.size();
  for (size_t pos : found)
    if (image.size() - pos >= 12) {
      at = pos;
      break;
    }
  if (at == image.size()) return false;
  // Word by word, each opaque: a MarkerPair constant in the program's data,
  // or the two words merged into one immediate in its code, would be a
  // second marker group in the image.
  uint8_t* group = image.data() + at;
  vx::WriteLE32(group, package::MarkerWord(0x87654321u));
  vx::WriteLE32(group + 4, package::MarkerWord(0xAAAAAAAAu));
  vx::WriteLE32(group + 8, headerOffset);
  return true;
}

}  // namespace setup
