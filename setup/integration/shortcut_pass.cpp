#include "setup/integration/shortcut_pass.h"

#include "base/path_join.h"

namespace setup {
namespace {

const std::vector<package::ShortcutEntry>& Entries(const SetupState& s, ShortcutKind kind) {
  switch (kind) {
    case ShortcutKind::ProgramGroup:
      return s.header.ProgramGroupShortcuts;
    case ShortcutKind::StartMenu:
      return s.header.StartMenuShortcuts;
    case ShortcutKind::Desktop:
      return s.header.DesktopShortcuts;
    default:
      return s.header.QuickLaunchShortcuts;
  }
}

std::vector<std::u16string>& Created(SetupState& s, ShortcutKind kind) {
  switch (kind) {
    case ShortcutKind::ProgramGroup:
      return s.CreatedGroupShortcuts;
    case ShortcutKind::StartMenu:
      return s.CreatedStartMenuShortcuts;
    case ShortcutKind::Desktop:
      return s.CreatedDesktopShortcuts;
    default:
      return s.CreatedQuickLaunchShortcuts;
  }
}

std::u16string WithoutTrailingBackslash(std::u16string path) {
  if (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

// Missing, empty, or holding only this package's program-group links.
bool GroupFolderIsOwn(const SetupState& s, ShortcutSystem& system, const std::u16string& folder) {
  std::vector<FolderEntry> entries;
  if (!system.List(folder, entries)) return true;
  for (const auto& e : entries)
    if (e.folder || !IsOwnLinkName(e.name, s.header.ProgramGroupShortcuts)) return false;
  return true;
}

void RemoveOwnLinks(const SetupState& s, ShortcutSystem& system, ShortcutReporter& reporter,
                    const std::u16string& folder) {
  std::vector<FolderEntry> entries;
  if (!system.List(folder, entries)) return;
  size_t left = entries.size();
  for (const auto& e : entries) {
    if (e.folder || !IsOwnLinkName(e.name, s.header.ProgramGroupShortcuts)) continue;
    const std::u16string path = vx::JoinPath(folder, e.name);
    if (system.RemoveFile(path)) {
      reporter.Deleted(path);
      --left;
    } else {
      reporter.NotDeleted(path);
    }
  }
  if (left == 0 && system.RemoveEmptyFolder(folder)) reporter.FolderRemoved(folder);
}

void RemoveProductLink(const SetupState& s, ShortcutSystem& system, const std::u16string& folder) {
  if (folder.empty() || !IsSafeLinkName(s.ProductName)) return;
  const std::u16string path = LinkPath(folder, s.ProductName);
  if (system.FileExists(path)) system.RemoveFile(path);
}

}  // namespace

bool ShortcutKindChosen(const SetupState& s, ShortcutKind kind, bool driven) {
  const package::PackageHeader& h = s.header;
  switch (kind) {
    case ShortcutKind::ProgramGroup:
      return s.hasProgramGroup && (!driven || h.DrivenProgramGroup != 0);
    case ShortcutKind::StartMenu:
      return s.hasStartMenu && (!driven || h.DrivenStartMenu != 0);
    case ShortcutKind::Desktop:
      return s.hasDesktop && (!driven || h.DrivenDesktop != 0);
    default:
      return s.hasQuickLaunch && (!driven || h.DrivenQuickLaunch != 0);
  }
}

void MakeShortcuts(SetupState& s, ShortcutSystem& system, ShortcutReporter& reporter, bool driven) {
  s.ProgramGroupFolder.clear();
  const std::u16string workingDirectory = WithoutTrailingBackslash(s.InstallDir);
  for (ShortcutKind kind : kShortcutKinds) {
    std::vector<std::u16string>& created = Created(s, kind);
    created.clear();
    if (!ShortcutKindChosen(s, kind, driven)) continue;

    std::u16string base;
    bool usable = true;
    if (kind == ShortcutKind::ProgramGroup) {
      if (s.ProgramsBase.empty()) continue;
      base = s.ProgramsBase;
      usable = IsSafeProgramGroup(s.ProgramGroup);
    } else if (!system.SpecialFolder(kind, s.AllUsers, base)) {
      continue;
    }
    const std::u16string folder = ShortcutFolder(kind, base, s.ProgramGroup);
    const bool ownGroup = kind == ShortcutKind::ProgramGroup && usable && GroupFolderIsOwn(s, system, folder);

    for (const auto& entry : Entries(s, kind)) {
      const std::u16string& caption = CaptionIn(entry, s.Language);
      const std::u16string link = LinkPath(folder, caption);
      // Folders below the resolved base (the group, Quick Launch) are made
      // first: a link is not saved into a missing folder.
      const bool ok = usable && IsSafeLinkName(caption) &&
                      system.MakeFolders(link, vx::WithTrailingBackslash(base).size()) != 0 &&
                      system.MakeLink(s.InstallDir + entry.Target, link, workingDirectory);
      if (ok) {
        created.push_back(link);
        reporter.Created(link);
      } else {
        reporter.Failed(link);
      }
    }
    if (ownGroup) s.ProgramGroupFolder = folder;
  }
}

void RemoveOldShortcutLinks(const SetupState& s, ShortcutSystem& system, ShortcutReporter& reporter) {
  std::u16string programs;
  if (!system.UserProgramsFolder(programs)) return;
  if (IsSafeProgramGroup(s.ProgramGroup)) {
    const std::u16string userGroup = ShortcutFolder(ShortcutKind::ProgramGroup, programs, s.ProgramGroup);
    RemoveOwnLinks(s, system, reporter, userGroup);
    if (!s.ProgramsBase.empty()) {
      const std::u16string group = ShortcutFolder(ShortcutKind::ProgramGroup, s.ProgramsBase, s.ProgramGroup);
      if (!SameFileName(group, userGroup)) RemoveOwnLinks(s, system, reporter, group);
    }
  }
  const std::u16string startMenu = ParentFolder(programs);
  RemoveProductLink(s, system, startMenu);
  const std::u16string profile = ParentFolder(startMenu);
  if (!profile.empty()) RemoveProductLink(s, system, profile + u"\\\u684C\u9762");
}

}  // namespace setup
