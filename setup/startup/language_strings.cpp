#include "setup/startup/language_strings.h"

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
  // The base stays as the system names it ("C:\Program Files (x86)"): a
  // replaced one would be a new folder at the drive root, open to every user.
  std::u16string path(base.empty() ? std::u16string_view(u"C:") : base);
  path += u'\\';
  path += ReplaceBrackets(folderName);
  return path;
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
  using H = package::PackageHeader;
  struct LanguageFields {
    int language;
    std::u16string H::*productName, H::*folderName, H::*programGroup;
  };
  static const LanguageFields kFields[] = {
      {kChineseSimplified, &H::ProductNameGb, &H::FolderNameGb, &H::ProgramGroupGb},
      {kChineseTraditional, &H::ProductNameBig5, &H::FolderNameBig5, &H::ProgramGroupBig5},
      {kEnglish, &H::ProductNameEn, &H::FolderNameEn, &H::ProgramGroupEn},
      {kJapanese, &H::ProductNameJp, &H::FolderNameJp, &H::ProgramGroupJp},
  };
  const H& h = s.header;
  for (const LanguageFields& f : kFields) {
    if (f.language != s.Language) continue;
    s.ProductName = h.*f.productName;
    s.FolderName = h.*f.folderName;
    if (s.hasProgramGroup) s.ProgramGroup = h.*f.programGroup;
  }
  if (h.ServerPackage != 0) s.FolderName = h.FolderNameEn;
  s.InstallDir = s.EarlierInstallDir.empty() ? DefaultDestination(programFilesBase, s.FolderName) : s.EarlierInstallDir;
}

}  // namespace setup
