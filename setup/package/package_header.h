#pragma once
// The package header: a 4220-byte fixed part followed by five lists. Shared by
// the packager (write) and the setup program (read).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace package {

constexpr size_t kFixedPartSize = 4220;
constexpr size_t kNameEntrySize = 80;
constexpr size_t kShortcutEntrySize = 1320;
constexpr size_t kGroupNamesSize = 760;

struct ShortcutEntry {
  std::u16string CaptionGb, CaptionBig5, CaptionEn, CaptionJp, Target;
  bool operator==(const ShortcutEntry&) const = default;
};

struct PackageHeader {
  std::u16string ProductNameGb, ProductNameBig5, ProductNameEn, ProductNameJp;
  std::u16string VersionLabel;
  std::u16string FolderNameGb, FolderNameBig5, FolderNameEn, FolderNameJp;
  std::u16string TitleText, MainExe, Publisher, URLInfoAbout, DisplayVersion, Contact, HelpLink,
      HelpTelephone, ReadmeFile, URLUpdateInfo, ProductID, CommentText;
  int32_t OnlineInstall = 0, ServerListForm = 0, DefaultLanguage = 0;
  std::u16string UpdateServers, OnlineProductCode;
  int32_t TotalSize = 0, ServerPackage = 0, NoAutostart = 0, SkipServerAddress = 0,
          BannerVariant = 0, ShowLicence = 0, RunOnFinish = 0, DrivenProgramGroup = 0,
          DrivenStartMenu = 0, DrivenDesktop = 0, DrivenQuickLaunch = 0, ServerAllLanguages = 0;

  std::vector<std::u16string> AutostartPrograms;
  // Written only when ProgramGroupShortcuts is not empty.
  std::u16string ProgramGroupGb, ProgramGroupBig5, ProgramGroupEn, ProgramGroupJp;
  std::vector<ShortcutEntry> ProgramGroupShortcuts, StartMenuShortcuts, DesktopShortcuts,
      QuickLaunchShortcuts;

  bool operator==(const PackageHeader&) const = default;
};

// One field of the fixed part, in file order. Text fields have a width of 80,
// 520 or 800 bytes; integer fields are 4 bytes.
struct FixedField {
  const char* name;
  uint32_t offset;
  uint32_t width;
  std::u16string PackageHeader::*text;  // null for integers
  int32_t PackageHeader::*number;       // null for texts
};
const std::vector<FixedField>& FixedFields();

struct ShortcutField {
  const char* name;
  uint32_t width;
  std::u16string ShortcutEntry::*text;
};
const std::vector<ShortcutField>& ShortcutFields();

struct GroupNameField {
  const char* name;
  uint32_t width;
  std::u16string PackageHeader::*text;
};
const std::vector<GroupNameField>& GroupNameFields();

// The four shortcut lists in file order, with their names.
struct ShortcutList {
  const char* name;
  std::vector<ShortcutEntry> PackageHeader::*list;
};
const std::vector<ShortcutList>& ShortcutLists();

// Serialises the header. Returns false with `error` naming the field when a
// text does not fit its width.
bool WriteHeader(const PackageHeader& header, std::vector<uint8_t>& out, std::string& error);

// Size in bytes of the serialised header (fixed part and lists).
size_t HeaderSize(const PackageHeader& header);

// Sequential reader of the package file: returns the bytes actually read.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual size_t Read(void* out, size_t n) = 0;
};

// Exactly `n` bytes, or false on a short read.
bool ReadExact(ByteSource& source, void* out, size_t n);
bool ReadLe32(ByteSource& source, uint32_t& value);

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : m_pData(data), m_nSize(size) {}
  size_t Read(void* out, size_t n) override;

 private:
  const uint8_t* m_pData;
  size_t m_nSize;
  size_t m_nPos = 0;
};

// Reads a file from a position on; `ok()` is false when it cannot be opened
// or the position cannot be reached.
class FileSource : public ByteSource {
 public:
  FileSource(const std::string& utf8Path, uint64_t offset);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  bool ok() const { return m_pFile != nullptr; }
  size_t Read(void* out, size_t n) override;

 private:
  void* m_pFile = nullptr;  // std::ifstream
};

enum class HeaderError {
  None,
  FixedPartShort,    // the fixed part is not 4220 bytes
  ListLength,        // a list's byte count differs from count x entry size + 4
  NegativeCount,
  ShortRead,
  Allocation,
};
const char* HeaderErrorText(HeaderError e);

// Reads fixed part and lists with the checks of the setup program's reader.
// `byteTotal` receives the bytes consumed (the payload starts there).
HeaderError ReadHeader(ByteSource& source, PackageHeader& header, size_t& byteTotal);

}  // namespace package
