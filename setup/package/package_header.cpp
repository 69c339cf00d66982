#include "base/fs_path.h"
#include "setup/package/package_header.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>

#include "base/fixed_field.h"
#include "base/le_int.h"

namespace package {
namespace {

using H = PackageHeader;

FixedField Text(const char* name, uint32_t offset, uint32_t width, std::u16string H::*member) {
  return {name, offset, width, member, nullptr};
}
FixedField Number(const char* name, uint32_t offset, int32_t H::*member) {
  return {name, offset, 4, nullptr, member};
}

// A list count never exceeds what a 32-bit file can hold; this also bounds
// allocations made from hostile counts.
constexpr int64_t kMaxListCount = 0x7FFFFFFF / kNameEntrySize;

}  // namespace

const std::vector<FixedField>& FixedFields() {
  static const std::vector<FixedField> fields = {
      Text("ProductNameGb", 0x000, 80, &H::ProductNameGb),
      Text("ProductNameBig5", 0x050, 80, &H::ProductNameBig5),
      Text("ProductNameEn", 0x0A0, 520, &H::ProductNameEn),
      Text("ProductNameJp", 0x2A8, 80, &H::ProductNameJp),
      Text("VersionLabel", 0x2F8, 80, &H::VersionLabel),
      Text("FolderNameGb", 0x348, 80, &H::FolderNameGb),
      Text("FolderNameBig5", 0x398, 80, &H::FolderNameBig5),
      Text("FolderNameEn", 0x3E8, 520, &H::FolderNameEn),
      Text("FolderNameJp", 0x5F0, 80, &H::FolderNameJp),
      Text("TitleText", 0x640, 80, &H::TitleText),
      Text("MainExe", 0x690, 80, &H::MainExe),
      Text("Publisher", 0x6E0, 80, &H::Publisher),
      Text("URLInfoAbout", 0x730, 80, &H::URLInfoAbout),
      Text("DisplayVersion", 0x780, 80, &H::DisplayVersion),
      Text("Contact", 0x7D0, 80, &H::Contact),
      Text("HelpLink", 0x820, 80, &H::HelpLink),
      Text("HelpTelephone", 0x870, 80, &H::HelpTelephone),
      Text("ReadmeFile", 0x8C0, 80, &H::ReadmeFile),
      Text("URLUpdateInfo", 0x910, 80, &H::URLUpdateInfo),
      Text("ProductID", 0x960, 80, &H::ProductID),
      Text("CommentText", 0x9B0, 800, &H::CommentText),
      Number("OnlineInstall", 0xCD0, &H::OnlineInstall),
      Number("ServerListForm", 0xCD4, &H::ServerListForm),
      Number("DefaultLanguage", 0xCD8, &H::DefaultLanguage),
      Text("UpdateServers", 0xCDC, 800, &H::UpdateServers),
      Text("OnlineProductCode", 0xFFC, 80, &H::OnlineProductCode),
      Number("TotalSize", 0x104C, &H::TotalSize),
      Number("ServerPackage", 0x1050, &H::ServerPackage),
      Number("NoAutostart", 0x1054, &H::NoAutostart),
      Number("SkipServerAddress", 0x1058, &H::SkipServerAddress),
      Number("BannerVariant", 0x105C, &H::BannerVariant),
      Number("ShowLicence", 0x1060, &H::ShowLicence),
      Number("RunOnFinish", 0x1064, &H::RunOnFinish),
      Number("DrivenProgramGroup", 0x1068, &H::DrivenProgramGroup),
      Number("DrivenStartMenu", 0x106C, &H::DrivenStartMenu),
      Number("DrivenDesktop", 0x1070, &H::DrivenDesktop),
      Number("DrivenQuickLaunch", 0x1074, &H::DrivenQuickLaunch),
      Number("ServerAllLanguages", 0x1078, &H::ServerAllLanguages),
  };
  return fields;
}

const std::vector<ShortcutField>& ShortcutFields() {
  static const std::vector<ShortcutField> fields = {
      {"CaptionGb", 200, &ShortcutEntry::CaptionGb},
      {"CaptionBig5", 200, &ShortcutEntry::CaptionBig5},
      {"CaptionEn", 520, &ShortcutEntry::CaptionEn},
      {"CaptionJp", 200, &ShortcutEntry::CaptionJp},
      {"Target", 200, &ShortcutEntry::Target},
  };
  return fields;
}

const std::vector<GroupNameField>& GroupNameFields() {
  static const std::vector<GroupNameField> fields = {
      {"ProgramGroupGb", 80, &H::ProgramGroupGb},
      {"ProgramGroupBig5", 80, &H::ProgramGroupBig5},
      {"ProgramGroupEn", 520, &H::ProgramGroupEn},
      {"ProgramGroupJp", 80, &H::ProgramGroupJp},
  };
  return fields;
}

const std::vector<ShortcutList>& ShortcutLists() {
  static const std::vector<ShortcutList> lists = {
      {"ProgramGroupShortcuts", &H::ProgramGroupShortcuts},
      {"StartMenuShortcuts", &H::StartMenuShortcuts},
      {"DesktopShortcuts", &H::DesktopShortcuts},
      {"QuickLaunchShortcuts", &H::QuickLaunchShortcuts},
  };
  return lists;
}

size_t HeaderSize(const PackageHeader& h) {
  size_t n = kFixedPartSize + 4 + h.AutostartPrograms.size() * kNameEntrySize;
  for (const ShortcutList& l : ShortcutLists()) {
    const auto& list = h.*l.list;
    n += 4 + list.size() * kShortcutEntrySize;
    if (l.list == &H::ProgramGroupShortcuts && !list.empty()) n += kGroupNamesSize;
  }
  return n;
}

bool WriteHeader(const PackageHeader& h, std::vector<uint8_t>& out, std::string& error) {
  std::vector<uint8_t> buf(HeaderSize(h), 0);
  auto text = [&](size_t at, size_t width, const std::u16string& s, const std::string& name) {
    if (vx::EncodeFixedField(s, width, &buf[at])) return true;
    error = vx::FieldTooLongError(name, s.size(), width);
    return false;
  };
  for (const FixedField& f : FixedFields()) {
    if (f.text) {
      if (!text(f.offset, f.width, h.*f.text, f.name)) return false;
    } else {
      vx::WriteLE32Signed(&buf[f.offset], h.*f.number);
    }
  }
  size_t at = kFixedPartSize;
  auto count = [&](size_t n) {
    vx::WriteLE32(&buf[at], static_cast<uint32_t>(n));
    at += 4;
  };
  count(h.AutostartPrograms.size());
  for (size_t i = 0; i < h.AutostartPrograms.size(); ++i) {
    if (!text(at, kNameEntrySize, h.AutostartPrograms[i],
              "AutostartPrograms[" + std::to_string(i) + "]"))
      return false;
    at += kNameEntrySize;
  }
  for (const ShortcutList& l : ShortcutLists()) {
    const auto& list = h.*l.list;
    count(list.size());
    if (l.list == &H::ProgramGroupShortcuts && !list.empty()) {
      for (const GroupNameField& g : GroupNameFields()) {
        if (!text(at, g.width, h.*g.text, g.name)) return false;
        at += g.width;
      }
    }
    for (size_t i = 0; i < list.size(); ++i) {
      for (const ShortcutField& f : ShortcutFields()) {
        if (!text(at, f.width, list[i].*f.text,
                  std::string(l.name) + "[" + std::to_string(i) + "]." + f.name))
          return false;
        at += f.width;
      }
    }
  }
  out = std::move(buf);
  return true;
}

bool ReadExact(ByteSource& source, void* out, size_t n) { return source.Read(out, n) == n; }

bool ReadLe32(ByteSource& source, uint32_t& value) {
  uint8_t b[4];
  if (!ReadExact(source, b, 4)) return false;
  value = vx::ReadLE32(b);
  return true;
}

size_t MemorySource::Read(void* out, size_t n) {
  const size_t take = n < m_nSize - m_nPos ? n : m_nSize - m_nPos;
  if (take) std::memcpy(out, m_pData + m_nPos, take);
  m_nPos += take;
  return take;
}

const char* HeaderErrorText(HeaderError e) {
  switch (e) {
    case HeaderError::None: return "no error";
    case HeaderError::FixedPartShort: return "the fixed part of the header is not 4220 bytes";
    case HeaderError::ListLength: return "a header list's length does not match its count";
    case HeaderError::NegativeCount: return "a header list has a negative count";
    case HeaderError::ShortRead: return "the header ends inside a list";
    case HeaderError::Allocation: return "a header list is too large";
  }
  return "unknown error";
}

HeaderError ReadHeader(ByteSource& source, PackageHeader& h, size_t& byteTotal) {
  byteTotal = 0;
  // Fixed fields one by one, adding up what the reads return.
  uint8_t fixed[kFixedPartSize] = {};
  for (const FixedField& f : FixedFields()) byteTotal += source.Read(fixed + f.offset, f.width);
  if (byteTotal != kFixedPartSize) return HeaderError::FixedPartShort;
  for (const FixedField& f : FixedFields()) {
    if (f.text)
      h.*f.text = vx::DecodeFixedField(fixed + f.offset, f.width);
    else
      h.*f.number = vx::ReadLE32Signed(fixed + f.offset);
  }

  // One list: the count, for a non-empty program-group list the four group
  // names, then the entries. Count and entries together must be
  // count x entry size + 4 bytes (the group names are not counted).
  std::vector<uint8_t> data;
  auto readList = [&](size_t entrySize, bool groupNames, int32_t& count) -> HeaderError {
    uint8_t b[4];
    size_t got = source.Read(b, 4);
    byteTotal += got;
    if (got != 4) return HeaderError::ShortRead;
    count = vx::ReadLE32Signed(b);
    if (count < 0) return HeaderError::NegativeCount;
    if (count > kMaxListCount) return HeaderError::Allocation;
    if (groupNames && count != 0) {
      uint8_t names[kGroupNamesSize];
      const size_t r = source.Read(names, kGroupNamesSize);
      byteTotal += r;
      if (r != kGroupNamesSize) return HeaderError::ShortRead;
      size_t at = 0;
      for (const GroupNameField& g : GroupNameFields()) {
        h.*g.text = vx::DecodeFixedField(names + at, g.width);
        at += g.width;
      }
    }
    // Grow with what the file really holds, so a hostile count costs nothing.
    const size_t want = static_cast<size_t>(count) * entrySize;
    size_t n = 0;
    data.clear();
    try {
      while (n < want) {
        const size_t piece = std::min<size_t>(want - n, 1 << 20);
        data.resize(n + piece);
        const size_t r = source.Read(data.data() + n, piece);
        n += r;
        if (r < piece) break;
      }
    } catch (const std::bad_alloc&) {
      return HeaderError::Allocation;
    }
    got += n;
    byteTotal += n;
    if (n != want) return HeaderError::ShortRead;
    if (got != want + 4) return HeaderError::ListLength;
    return HeaderError::None;
  };

  int32_t count = 0;
  if (HeaderError e = readList(kNameEntrySize, false, count); e != HeaderError::None) return e;
  h.AutostartPrograms.clear();
  for (int32_t i = 0; i < count; ++i)
    h.AutostartPrograms.push_back(vx::DecodeFixedField(&data[i * kNameEntrySize], kNameEntrySize));

  for (const ShortcutList& l : ShortcutLists()) {
    const bool groupNames = l.list == &H::ProgramGroupShortcuts;
    if (HeaderError e = readList(kShortcutEntrySize, groupNames, count); e != HeaderError::None)
      return e;
    auto& list = h.*l.list;
    list.assign(count, {});
    for (int32_t i = 0; i < count; ++i) {
      size_t at = i * kShortcutEntrySize;
      for (const ShortcutField& f : ShortcutFields()) {
        list[i].*f.text = vx::DecodeFixedField(&data[at], f.width);
        at += f.width;
      }
    }
  }
  return HeaderError::None;
}

}  // namespace package
