#include "setup/language_strings.h"

#include "base/path_join.h"

namespace setup {
namespace {

// Caption formats of the uninstall shortcut (message ids 11, 362, 363, 585).
constexpr std::u16string_view kUninstallGb = u"\u5378\u8f7d  ";
constexpr std::u16string_view kUninstallBig5 = u"\u79fb\u9664  ";
constexpr std::u16string_view kUninstallEn = u"Uninstall  ";
constexpr std::u16string_view kUninstallJp = u"\u30a2\u30f3\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb ";

// Formats into a caption of at most `limit` characters, as the fixed
// in-memory fields hold.
std::u16string Caption(std::u16string_view prefix, const std::u16string& name, size_t limit) {
  std::u16string s(prefix);
  s += name;
  if (s.size() > limit) s.resize(limit);
  return s;
}

}  // namespace

std::u16string ReplaceBrackets(std::u16string_view path) {
  std::u16string out(path);
  for (char16_t& c : out)
    if (c == u'(' || c == u')' || c == 0xFF08 || c == 0xFF09) c = u'_';
  return out;
}

std::u16string DefaultDestination(std::u16string_view base, std::u16string_view folderName) {
  std::u16string path(base.empty() ? std::u16string_view(u"C:") : base);
  path += u'\\';
  path += folderName;
  return ReplaceBrackets(path);
}

package::ShortcutEntry UninstallShortcut(const package::PackageHeader& h) {
  package::ShortcutEntry e;
  e.CaptionGb = Caption(kUninstallGb, h.ProductNameGb, 199);
  e.CaptionBig5 = Caption(kUninstallBig5, h.ProductNameBig5, 199);
  e.CaptionEn = Caption(kUninstallEn, h.ProductNameEn, 259);
  e.CaptionJp = Caption(kUninstallJp, h.ProductNameJp, 259);
  e.Target = u"uninstall.exe";
  return e;
}

void SelectLanguageStrings(SetupState& s, std::u16string_view programFilesBase) {
  const package::PackageHeader& h = s.header;
  switch (s.Language) {
    case kChineseSimplified:
      s.ProductName = h.ProductNameGb;
      s.FolderName = h.FolderNameGb;
      if (s.hasProgramGroup) s.ProgramGroup = h.ProgramGroupGb;
      break;
    case kChineseTraditional:
      s.ProductName = h.ProductNameBig5;
      s.FolderName = h.FolderNameBig5;
      if (s.hasProgramGroup) s.ProgramGroup = h.ProgramGroupBig5;
      break;
    case kEnglish:
      s.ProductName = h.ProductNameEn;
      s.FolderName = h.FolderNameEn;
      if (s.hasProgramGroup) s.ProgramGroup = h.ProgramGroupEn;
      break;
    case kJapanese:
      s.ProductName = h.ProductNameJp;
      s.FolderName = h.FolderNameJp;
      if (s.hasProgramGroup) s.ProgramGroup = h.ProgramGroupJp;
      break;
    default:
      break;
  }
  if (h.ServerPackage != 0) s.FolderName = h.FolderNameEn;
  s.InstallDir = DefaultDestination(programFilesBase, s.FolderName);
}

}  // namespace setup
