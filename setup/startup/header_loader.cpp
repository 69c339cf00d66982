#include "setup/startup/header_loader.h"

#include "base/path_join.h"
#include "setup/startup/language_strings.h"
#include "setup/startup/startup_rules.h"

namespace setup {

bool LoadPackageHeader(package::ByteSource& source, uint64_t headerOffset, SetupState& s,
                       HeaderEnvironment& env) {
  size_t total = 0;
  if (package::ReadHeader(source, s.header, total) != package::HeaderError::None) return false;
  package::PackageHeader& h = s.header;
  s.Language = LanguageFromHeader(h.DefaultLanguage, s.Language);
  s.AskServerAddress = h.SkipServerAddress == 0 && h.ServerPackage == 0;
  if (s.AskServerAddress) env.RegisterAddressControl();

  s.hasProgramGroup = !h.ProgramGroupShortcuts.empty();
  s.hasStartMenu = !h.StartMenuShortcuts.empty();
  s.hasDesktop = !h.DesktopShortcuts.empty();
  s.hasQuickLaunch = !h.QuickLaunchShortcuts.empty();
  if (s.hasProgramGroup) h.ProgramGroupShortcuts.push_back(UninstallShortcut(h));

  SelectLanguageStrings(s, env.ProgramFilesBase(s.AllUsers));
  s.payloadOffset = headerOffset + total;

  if (s.hasProgramGroup) {
    std::u16string folder;
    if (!env.ProgramsFolder(s.AllUsers, folder)) return false;
    s.ProgramsBase = folder + u"\\";
    s.ExistingGroups.clear();
    if (!env.SubFolders(s.ProgramsBase, s.ExistingGroups)) return false;
  }
  return true;
}

}  // namespace setup
