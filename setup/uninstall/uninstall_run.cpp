#include "setup/uninstall/uninstall_run.h"

#include <windows.h>

#include "base/utf16.h"
#include "setup/integration/integration_steps.h"

namespace setup {
namespace {

// Detail-line keys.
constexpr uint16_t kRemoveFolder = 397, kCantDelete = 399, kDeleteFile = 401, kCleanRegistry = 403,
                   kCleanRegistryFailed = 405, kCompleted = 391;

std::u16string Join(const std::u16string& folder, const std::u16string& name) { return folder + u"\\" + name; }

// "." and ".." (and other dot names of at most two characters) are skipped.
bool Skipped(const wchar_t* name) { return name[0] == L'.' && wcslen(name) <= 2; }

class Removal {
 public:
  explicit Removal(WizardSurface& surface) : m_surface(surface) {}

  void Line(uint16_t key, const std::u16string& path) {
    m_surface.DetailLine(key, path);
    m_surface.AdvanceProgress(1);
    Sleep(10);
  }

  // Everything under `folder`, then the folder itself.
  bool DeleteTree(const std::u16string& folder, bool reportFailures) {
    bool failed = false;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(vx::ToWide(folder + u"\\*.*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (Skipped(found.cFileName)) continue;
        const std::u16string path = Join(folder, vx::FromWide(found.cFileName));
        bool ok;
        uint16_t done;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          ok = DeleteTree(path, reportFailures);
          done = kRemoveFolder;
        } else {
          SetFileAttributesW(vx::ToWide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
          ok = DeleteFileW(vx::ToWide(path).c_str()) != FALSE;
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
    return !failed && RemoveDirectoryW(vx::ToWide(folder).c_str()) != FALSE;
  }

  void DeleteListedFiles(const std::u16string& folder, const std::vector<std::u16string>& list) {
    for (const auto& entry : list)
      if (DeleteFileW(vx::ToWide(Join(folder, entry)).c_str())) Line(kDeleteFile, Join(folder, entry));
  }

  // Bottom-up: every folder of the tree that is empty goes.
  bool RemoveEmptyFolders(const std::u16string& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(vx::ToWide(folder + u"\\*.*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (!Skipped(found.cFileName) && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
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
};

void UnregisterImageComponent(const std::u16string& folder) {
  HMODULE library = LoadLibraryW(vx::ToWide(Join(folder, u"qrimgole.dll")).c_str());
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
  UnregisterImageComponent(s.InstallDir);

  Removal removal(surface);
  if (complete) {
    removal.Line(removal.DeleteTree(s.InstallDir, true) ? kRemoveFolder : kCantDelete, s.InstallDir);
  } else {
    removal.DeleteListedFiles(s.InstallDir, s.InstalledFiles);
    const std::u16string self = Join(s.InstallDir, u"uninstall.exe");
    // One step on, like every other line (not back to position 1).
    removal.Line(DeleteFileW(vx::ToWide(self).c_str()) ? kDeleteFile : kCantDelete, self);
    removal.RemoveEmptyFolders(s.InstallDir);
  }

  removal.DeletePaths(s.CreatedGroupShortcuts);
  if (!s.ProgramGroupFolder.empty()) removal.RemoveEmptyFolders(s.ProgramGroupFolder);
  removal.DeletePaths(s.CreatedStartMenuShortcuts);
  removal.DeletePaths(s.CreatedDesktopShortcuts);
  removal.DeletePaths(s.CreatedQuickLaunchShortcuts);

  if (s.RegistryRecordOwn) removal.Line(RemoveRegistryRecords(s) ? kCleanRegistry : kCleanRegistryFailed, {});

  surface.DetailLine(kCompleted, {});
  surface.SetProgressPosition(uint32_t(total));
  return true;
}

}  // namespace setup
