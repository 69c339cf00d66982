#pragma once
// The pure rules of the wizard pages: destination folder validity, size
// formatting, the server path character rule, the ready-page summary and the
// program-menu prefix search, the languages the language page lists, the
// pages that wait for an online package's file list.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace setup {

// Drive facts the folder check asks for.
class DriveQuery {
 public:
  virtual ~DriveQuery() = default;
  virtual unsigned DriveType(const std::u16string& root) = 0;  // GetDriveTypeW values
  virtual std::optional<uint64_t> FreeBytes(const std::u16string& root) = 0;
};

struct FolderVerdict {
  bool valid = false;
  bool tooLong = false;                // 258 characters or more: prompt 0x40104
  std::optional<uint64_t> freeBytes;  // for the "Space available" line, when known
};

// Paths of this many characters or more are too long for the destination.
inline constexpr size_t kDestinationLimit = 258;

FolderVerdict CheckDestinationFolder(const std::u16string& path, DriveQuery& drives);

// "%.1fGB" above 0x3FFFFFFF bytes, "%.1fMB" above 0xFFFFF, "%.1fKB" above
// 1023, else "0.0KB".
std::u16string FormatSize(uint64_t bytes);

// A server package's path, in the ANSI code page: refused when a byte is 0x7F
// or above, or in 0x21-0x27, 0x2A-0x2F or 0x3B-0x40.
bool ServerPathAllowed(std::string_view ansiBytes);

// "c:\x" -> "C:\x"; anything else as it is.
std::u16string UpperCaseDriveLetter(std::u16string path);

struct SummaryInput {
  std::u16string InstallDir;
  bool hasProgramGroup = false;
  std::u16string ProgramGroup;
  bool startMenu = false, desktop = false, quickLaunch = false;
};

// The ready page's summary from the texts of the current language (`text`
// maps a text key to its text), within a buffer of 1024 characters.
std::u16string BuildSummary(const SummaryInput& in, const std::function<std::u16string(uint16_t)>& text);

// How many languages the language page lists (languages 1 to n): all four,
// or English and simplified Chinese only in a server package whose
// ServerAllLanguages is not 1.
int ListedLanguageCount(int32_t serverPackage, int32_t serverAllLanguages);

// The language the wizard uses when the page lists `listed` languages:
// `language` when it is listed, else simplified Chinese for traditional
// Chinese and English for the others.
int ListedLanguage(int language, int listed);

// Whether Next on `page` waits for an online package's file list: on the
// language page and the destination page, until the list is in (the
// destination's space required and the download need it).
bool WaitsForFileList(int page, bool online, bool fileListIn);

// The first entry of a sorted list that begins with `typed`, ignoring the case
// of Latin letters; -1 when none does.
int FindPrefix(const std::vector<std::u16string>& entries, std::u16string_view typed);

}  // namespace setup
