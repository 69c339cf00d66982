#pragma once
// The Setup state: the one process-wide record of header fields, the strings
// of the current language, the user's choices, the modes and the run's
// outputs. Every step reads and writes it directly; the wizard does not change
// it while a worker thread runs.
#include <cstdint>
#include <string>
#include <vector>

#include "setup/package/package_header.h"

namespace setup {

// Internal language numbers.
enum Language : int { kEnglish = 1, kChineseSimplified = 2, kChineseTraditional = 3, kJapanese = 4 };

struct SetupState {
  // Header, as read (lists include the uninstall shortcut node, see below).
  package::PackageHeader header;
  bool hasProgramGroup = false;  // presence flags; the last three double as check boxes
  bool hasStartMenu = false;
  bool hasDesktop = false;
  bool hasQuickLaunch = false;

  // Derived.
  uint64_t payloadOffset = 0;
  std::u16string ProductName, FolderName, ProgramGroup;
  std::u16string ProgramsBase;  // with trailing backslash
  std::vector<std::u16string> ExistingGroups;
  bool AskServerAddress = false;

  // Language.
  int Language = kEnglish;
  int SystemLanguage = kEnglish;

  // Choices.
  std::u16string InstallDir;
  // The install path of an earlier installation of this product that the
  // wizard offers (it outlives a change of language); empty when none.
  std::u16string EarlierInstallDir;
  std::u16string ServerAddress;

  // Modes.
  bool UninstallMode = false;
  bool DrivenMode = false;
  bool UpdateMode = false;
  std::u16string PreviousDir;
  uintptr_t ControllerWindow = 0;

  // System.
  bool AllUsers = true;

  // Uninstall: the product key belongs to this copy (same GUID and version).
  bool RegistryRecordOwn = true;

  // Run.
  uint32_t FileCount = 0;
  std::u16string PackageKind;
  std::vector<std::u16string> InstalledFiles;  // relative paths, payload order
  // Folders the run made: InstallDir itself, and the relative folders below
  // it (no trailing backslash) when CreatedFoldersKnown.
  bool InstallDirCreated = false;
  bool CreatedFoldersKnown = false;
  std::vector<std::u16string> CreatedFolders;
  int ComponentKind = 0;
  // The uninstall record carries ComponentKind (an older one does not: kind
  // 0, and the printer and spool folder are left as they are).
  bool ComponentKindRecorded = false;
  // The spool folder setting a kind 3 install replaces, as found before the
  // install; empty when there was none. Not known: SpoolFolderKnown false.
  bool SpoolFolderKnown = false;
  std::u16string PreviousSpoolFolder;
  // Components the install placed in the system folder (full paths; none was
  // there before it); "qedit.dll" also stands for the Sample Grabber keys.
  std::vector<std::u16string> PlacedComponents;
  // Shortcuts really created, as full .lnk paths; the program-group folder.
  std::u16string ProgramGroupFolder;
  std::vector<std::u16string> CreatedGroupShortcuts, CreatedStartMenuShortcuts, CreatedDesktopShortcuts,
      CreatedQuickLaunchShortcuts;

  // Uninstall: files found under the folder, listed files still there.
  int UninstallFilesFound = 0;
  int UninstallListedPresent = 0;
};

SetupState& State();

}  // namespace setup
