#include "setup/uninstall/uninstall_run.h"

#include <windows.h>

#include "base/utf16.h"
#include "setup/install/folder_safety.h"
#include "setup/integration/integration_steps.h"
#include "setup/uninstall/line_pacer.h"
#include "setup/uninstall/removal_plan.h"
#include "setup/install/win_system_folders.h"

namespace setup {
namespace {

// Detail-line keys.
constexpr uint16_t kRemoveFolder = 397, kCantDelete = 399, kDeleteFile = 401, kCleanRegistry = 403,
                   kCleanRegistryFailed = 405, kCompleted = 391;

std::u16string Join(const std::u16string& folder, const std::u16string& name) { return folder + u"\\" + name; }

// "." and ".." (and other dot names of at most two characters) are skipped.
bool Skipped(const wchar_t* name) { return name[0] == L'.' && wcslen(name) <= 2; }

// The path Windows resolves `path` to (links followed), comparable; empty
// when it cannot be opened.
std::u16string ResolvedPath(const std::u16string& path) {
  // Vista and later; older systems have no file links to follow.
  using FinalPath = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  static const auto finalPath = reinterpret_cast<FinalPath>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
  if (!finalPath) return {};
  HANDLE h = CreateFileW(vx::ToWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  wchar_t buffer[1024] = {};
  const DWORD n = finalPath(h, buffer, 1024, 0);
  CloseHandle(h);
  if (!n || n >= 1024) return {};
  std::u16string out = vx::FromWide(buffer);
  if (out.rfind(u"\\\\?\\UNC\\", 0) == 0) out = u"\\\\" + out.substr(8);
  else if (out.rfind(u"\\\\?\\", 0) == 0) out = out.substr(4);
  return ComparableFolder(out);
}

// Where the system deletes a link's target instead of the link (Wine follows
// links on delete), links are left in place.
bool LinksRemovable() {
  static const bool removable = !GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
  return removable;
}

// `path` resolves somewhere other than where it stands (a link, or inside
// one); `parent` is where its folder resolves to.
bool ResolvesElsewhere(const std::u16string& path, const std::u16string& parent) {
  const size_t slash = path.find_last_of(u'\\');
  if (slash == std::u16string::npos || parent.empty()) return false;
  const std::u16string resolved = ResolvedPath(path);
  return !resolved.empty() && resolved != ComparableFolder(parent + path.substr(slash));
}

bool ResolvesElsewhere(const std::u16string& path) {
  const size_t slash = path.find_last_of(u'\\');
  return slash != std::u16string::npos && ResolvesElsewhere(path, ResolvedPath(path.substr(0, slash)));
}

class Removal {
 public:
  explicit Removal(WizardSurface& surface) : m_surface(surface) {}

  // The user cancelled: nothing more is deleted.
  bool Stopped() { return m_surface.StopRequested(); }

  void Line(uint16_t key, const std::u16string& path) {
    m_surface.DetailLine(key, path);
    m_surface.AdvanceProgress(1);
    if (const uint32_t pause = m_pacer.PauseAfterLine(GetTickCount())) Sleep(pause);
  }

  // A link or junction, or an entry that resolves somewhere other than where
  // it stands: it is removed itself, never followed.
  static bool IsLink(const WIN32_FIND_DATAW& found, const std::u16string& resolvedFolder,
                     const std::u16string& path) {
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || ResolvesElsewhere(path, resolvedFolder);
  }

  // A file that cannot be deleted for its read-only flag loses the flag and
  // is tried again; a link is removed as it is, so that its target keeps its
  // attributes.
  static bool DeleteOne(const std::u16string& path, bool link) {
    const std::wstring p = vx::ToWide(path);
    if (DeleteFileW(p.c_str())) return true;
    if (link || GetLastError() != ERROR_ACCESS_DENIED) return false;
    const DWORD attributes = GetFileAttributesW(p.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
      return false;
    SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(p.c_str()) != FALSE;
  }

  // Everything under `folder`, then the folder itself when `removeSelf`;
  // links are removed, not descended.
  bool DeleteTree(const std::u16string& folder, bool reportFailures, bool removeSelf = true) {
    bool failed = false;
    const std::u16string resolvedFolder = ResolvedPath(folder);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(vx::ToWide(folder + u"\\*.*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (Skipped(found.cFileName)) continue;
        if (Stopped()) {
          failed = true;
          break;
        }
        const std::u16string path = Join(folder, vx::FromWide(found.cFileName));
        const bool link = IsLink(found, resolvedFolder, path);
        bool ok;
        uint16_t done;
        if (link && !LinksRemovable()) {
          ok = false;
          done = kCantDelete;
        } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          // A directory link goes with RemoveDirectory (the link itself).
          ok = link ? RemoveDirectoryW(vx::ToWide(path).c_str()) != FALSE : DeleteTree(path, reportFailures);
          done = kRemoveFolder;
        } else {
          ok = DeleteOne(path, link);
          done = kDeleteFile;
        }
        if (ok) {
          Line(done, path);
        } else {
          failed = true;
          if (reportFailures)
            Line(kCantDelete, path);
          else
            m_surface.AdvanceProgress(1);
        }
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    if (!removeSelf) return !failed;
    return !failed && RemoveDirectoryW(vx::ToWide(folder).c_str()) != FALSE;
  }

  void DeleteListedFiles(const std::u16string& folder, const std::vector<std::u16string>& list) {
    std::u16string parent, parentResolved;  // the folder of the last file, resolved once
    for (const auto& entry : list) {
      if (Stopped()) return;
      const std::u16string path = Join(folder, entry);
      const std::u16string pathParent = path.substr(0, path.find_last_of(u'\\'));
      if (pathParent != parent) {
        parent = pathParent;
        parentResolved = ResolvedPath(parent);
      }
      const bool link = ResolvesElsewhere(path, parentResolved);
      if (link && !LinksRemovable()) continue;
      if (DeleteOne(path, link)) Line(kDeleteFile, path);
    }
  }

  // Only the given folders, deepest first, and only when empty.
  void RemoveEmptyFolders(const std::u16string& folder, const std::vector<std::u16string>& relative) {
    for (const auto& entry : relative) RemoveDirectoryW(vx::ToWide(Join(folder, entry)).c_str());
  }

  // Bottom-up: every folder of the tree that is empty goes (the program
  // group's own folder tree); links are not followed.
  bool RemoveEmptyFolders(const std::u16string& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(vx::ToWide(folder + u"\\*.*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (!Skipped(found.cFileName) && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
          RemoveEmptyFolders(Join(folder, vx::FromWide(found.cFileName)));
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    return RemoveDirectoryW(vx::ToWide(folder).c_str()) != FALSE;
  }

  void DeletePaths(const std::vector<std::u16string>& paths) {
    for (const auto& path : paths)
      if (DeleteFileW(vx::ToWide(path).c_str())) Line(kDeleteFile, path);
  }

 private:
  WizardSurface& m_surface;
  LinePacer m_pacer;
};

// Only a component the install put there is loaded: a DLL planted in the
// folder later would run in the uninstaller.
void UnregisterImageComponent(const SetupState& s) {
  if (!ListsInstalledFile(s.InstalledFiles, u"qrimgole.dll")) return;
  HMODULE library = LoadLibraryExW(vx::ToWide(Join(s.InstallDir, u"qrimgole.dll")).c_str(), nullptr,
                                   LOAD_WITH_ALTERED_SEARCH_PATH);
  if (reinterpret_cast<uintptr_t>(library) <= 31) return;
  using Unregister = HRESULT(WINAPI*)();
  if (auto unregister = reinterpret_cast<Unregister>(
          reinterpret_cast<void*>(GetProcAddress(library, "DllUnregisterServer"))))
    unregister();
  FreeLibrary(library);
}

}  // namespace

bool RunUninstall(SetupState& s, bool complete, WizardSurface& surface) {
  const int shortcuts = int(s.CreatedGroupShortcuts.size() + s.CreatedStartMenuShortcuts.size() +
                            s.CreatedDesktopShortcuts.size() + s.CreatedQuickLaunchShortcuts.size());
  const int total = (complete ? s.UninstallFilesFound : s.UninstallListedPresent) + shortcuts + 12;
  surface.SetProgressRange(uint16_t(total + 100));
  UnregisterImageComponent(s);
  // Before the files go: the spooler lets go of the private spool folder.
  if (s.RegistryRecordOwn) RemoveComponentsAndPrinter(s);

  Removal removal(surface);
  const RemovalPlan plan = PlanRemoval(s, complete, IsProtectedFolder(s.InstallDir, ProtectedFolders()));
  if (plan.kind == RemovalKind::WholeFolder && !ResolvesElsewhere(s.InstallDir)) {
    removal.Line(removal.DeleteTree(s.InstallDir, true) ? kRemoveFolder : kCantDelete, s.InstallDir);
  } else {
    removal.DeleteListedFiles(s.InstallDir, s.InstalledFiles);
    if (removal.Stopped()) return false;  // the uninstaller stays, to be run again
    const std::u16string self = Join(s.InstallDir, u"uninstall.exe");
    // One step on, like every other line (not back to position 1).
    removal.Line(DeleteFileW(vx::ToWide(self).c_str()) ? kDeleteFile : kCantDelete, self);
    for (const auto& folder : plan.wholeFolders) {
      const std::u16string path = Join(s.InstallDir, folder);
      const DWORD attributes = GetFileAttributesW(vx::ToWide(path).c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
          ResolvesElsewhere(path))
        continue;
      removal.Line(removal.DeleteTree(path, complete) ? kRemoveFolder : kCantDelete, path);
    }
    removal.RemoveEmptyFolders(s.InstallDir, plan.emptyFolders);
    if (plan.removeInstallDir) RemoveDirectoryW(vx::ToWide(s.InstallDir).c_str());
  }

  // A cancel stops here: the shortcuts, the records and the uninstaller's
  // entry stay, so that the product can still be removed.
  if (removal.Stopped()) return false;

  removal.DeletePaths(s.CreatedGroupShortcuts);
  if (!s.ProgramGroupFolder.empty() && !IsProtectedFolder(s.ProgramGroupFolder, ProtectedFolders()))
    removal.RemoveEmptyFolders(s.ProgramGroupFolder);
  removal.DeletePaths(s.CreatedStartMenuShortcuts);
  removal.DeletePaths(s.CreatedDesktopShortcuts);
  removal.DeletePaths(s.CreatedQuickLaunchShortcuts);

  if (s.RegistryRecordOwn) removal.Line(RemoveRegistryRecords(s) ? kCleanRegistry : kCleanRegistryFailed, {});

  surface.DetailLine(kCompleted, {});
  surface.SetProgressPosition(uint32_t(total));
  return true;
}

}  // namespace setup
