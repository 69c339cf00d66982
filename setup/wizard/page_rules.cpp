#include "setup/wizard/page_rules.h"

#include <cstdio>

#include "setup/startup/setup_state.h"
#include "setup/wizard/text_format.h"

namespace setup {
namespace {

constexpr unsigned kDriveUnknown = 0, kDriveNoRootDir = 1, kDriveRamDisk = 6;

char16_t Fold(char16_t c) {
  if (c >= u'a' && c <= u'z') return char16_t(c - 32);
  if (c >= 0xFF41 && c <= 0xFF5A) return char16_t(c - 32);  // full-width letters
  return c;
}

}  // namespace

FolderVerdict CheckDestinationFolder(const std::u16string& path, DriveQuery& drives) {
  FolderVerdict v;
  if (path.size() >= kDestinationLimit) {
    v.tooLong = true;
    return v;
  }
  if (path.empty()) return v;
  const bool bareRoot = path.size() <= 3;
  size_t from = 2;
  for (;;) {
    std::u16string root;
    if (bareRoot) {
      root = path;
    } else {
      const size_t slash = path.find(u'\\', from);
      if (slash == std::u16string::npos) return v;
      root = path.substr(0, slash + 1);
      from = slash + 1;
    }
    const bool whole = root.size() == path.size();
    const unsigned type = drives.DriveType(root);
    if (type == kDriveUnknown || type == kDriveNoRootDir) {
      if (whole) return v;
      continue;
    }
    if (type == kDriveRamDisk || type > kDriveRamDisk) return v;
    v.freeBytes = drives.FreeBytes(root);
    v.valid = !bareRoot && !whole && path[root.size()] != u'\\';
    return v;
  }
}

std::u16string FormatSize(uint64_t bytes) {
  char text[64];
  if (bytes > 0x3FFFFFFFull)
    std::snprintf(text, sizeof text, "%.1fGB", double(bytes) / (1024.0 * 1024.0 * 1024.0));
  else if (bytes > 0xFFFFF)
    std::snprintf(text, sizeof text, "%.1fMB", double(bytes) / (1024.0 * 1024.0));
  else if (bytes > 1023)
    std::snprintf(text, sizeof text, "%.1fKB", double(bytes) / 1024.0);
  else
    std::snprintf(text, sizeof text, "%.1fKB", 0.0);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

bool ServerPathAllowed(std::string_view ansiBytes) {
  for (unsigned char b : ansiBytes) {
    if (b >= 0x7F || (b >= 0x21 && b <= 0x27) || (b >= 0x2A && b <= 0x2F) || (b >= 0x3B && b <= 0x40))
      return false;
  }
  return true;
}

std::u16string UpperCaseDriveLetter(std::u16string path) {
  if (path.size() >= 2 && path[1] == u':' && path[0] >= u'a' && path[0] <= u'z') path[0] = char16_t(path[0] - 32);
  return path;
}

std::u16string BuildSummary(const SummaryInput& in, const std::function<std::u16string(uint16_t)>& text) {
  std::u16string s = text(337) + in.InstallDir;
  if (in.hasProgramGroup) s += text(339) + in.ProgramGroup;
  if (in.startMenu || in.desktop || in.quickLaunch) {
    s += text(341);
    if (in.startMenu) s += text(343);
    if (in.desktop) s += text(345);
    if (in.quickLaunch) s += text(347);
  }
  return FitBuffer(std::move(s), 1024);
}

int FindPrefix(const std::vector<std::u16string>& entries, std::u16string_view typed) {
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::u16string& e = entries[i];
    if (e.size() < typed.size()) continue;
    size_t k = 0;
    while (k < typed.size() && Fold(e[k]) == Fold(typed[k])) ++k;
    if (k == typed.size()) return int(i);
  }
  return -1;
}

bool WaitsForFileList(int page, bool online, bool fileListIn) {
  return online && !fileListIn && (page == 1 || page == 4);
}

int ListedLanguageCount(int32_t serverPackage, int32_t serverAllLanguages) {
  return serverPackage != 0 && serverAllLanguages != 1 ? 2 : 4;
}

int ListedLanguage(int language, int listed) {
  if (language >= kEnglish && language <= listed) return language;
  return language == kChineseTraditional ? kChineseSimplified : kEnglish;
}

}  // namespace setup
