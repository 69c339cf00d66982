#include "setup/integration/shortcuts.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "base/utf16.h"
#include "setup/integration/integration_steps.h"
#include "setup/install/payload_extraction.h"
#include "setup/install/win_install_file_system.h"

namespace setup {
namespace {

// Detail-line keys.
constexpr uint16_t kLineCreated = 393, kLineCannotCreate = 367, kLineDeleteFile = 401, kLineCannotDelete = 399,
                   kLineRemoveFolder = 397;

bool ResolveFolder(int csidl, std::u16string& folder) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)) || !list) return false;
  wchar_t path[MAX_PATH] = {};
  const bool ok = SHGetPathFromIDListW(list, path) != FALSE && path[0] != 0;
  CoTaskMemFree(list);
  if (!ok) return false;
  folder = vx::FromWide(path);
  if (!folder.empty() && folder.back() == u'\\') folder.pop_back();
  return true;
}

class WizardShortcutReporter : public ShortcutReporter {
 public:
  explicit WizardShortcutReporter(WizardSurface& surface) : m_surface(surface) {}
  void Created(const std::u16string& link) override { Step(kLineCreated, link, 10); }
  void Failed(const std::u16string& link) override { Step(kLineCannotCreate, link, 10); }
  void Deleted(const std::u16string& path) override { Step(kLineDeleteFile, path, 1); }
  void NotDeleted(const std::u16string& path) override { Step(kLineCannotDelete, path, 1); }
  void FolderRemoved(const std::u16string& path) override { Step(kLineRemoveFolder, path, 1); }

 private:
  void Step(uint16_t key, const std::u16string& path, uint32_t progress) {
    m_surface.DetailLine(key, path);
    m_surface.AdvanceProgress(progress);
  }
  WizardSurface& m_surface;
};

class DrivenShortcutReporter : public ShortcutReporter {
 public:
  explicit DrivenShortcutReporter(StatusSink& sink) : m_sink(sink) {}
  void Created(const std::u16string& link) override { m_sink.Report(status::kCreateShortcut, link); }
  void Failed(const std::u16string& link) override { m_sink.Report(status::kCannotCreate, link); }

 private:
  StatusSink& m_sink;
};

// COM for the calling thread, for the length of one step.
class ComScope {
 public:
  ComScope() : m_hr(CoInitialize(nullptr)) {}
  ~ComScope() {
    if (SUCCEEDED(m_hr)) CoUninitialize();
  }

 private:
  HRESULT m_hr;
};

}  // namespace

bool MakeShellLink(const std::u16string& target, const std::u16string& link, const std::u16string& workingDirectory) {
  IShellLinkW* shellLink = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&shellLink))))
    return false;
  shellLink->SetPath(vx::ToWide(target).c_str());
  shellLink->SetWorkingDirectory(vx::ToWide(workingDirectory).c_str());
  IPersistFile* file = nullptr;
  if (FAILED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    shellLink->Release();
    return false;
  }
  const bool saved = SUCCEEDED(file->Save(vx::ToWide(link).c_str(), TRUE));
  file->Release();
  shellLink->Release();
  if (!saved) return false;
  const std::wstring folder = vx::ToWide(ParentFolder(link));
  SHChangeNotify(SHCNE_UPDATEDIR | SHCNE_INTERRUPT, SHCNF_PATHW | SHCNF_FLUSH, folder.c_str(), nullptr);
  return true;
}

bool WinShortcutSystem::SpecialFolder(ShortcutKind kind, bool allUsers, std::u16string& folder) {
  switch (kind) {
    case ShortcutKind::StartMenu:
      return ResolveFolder(allUsers ? CSIDL_COMMON_STARTMENU : CSIDL_STARTMENU, folder);
    case ShortcutKind::Desktop:
      return ResolveFolder(CSIDL_COMMON_DESKTOPDIRECTORY, folder);
    case ShortcutKind::QuickLaunch:
      return ResolveFolder(CSIDL_APPDATA, folder);
    default:
      return false;
  }
}

bool WinShortcutSystem::UserProgramsFolder(std::u16string& folder) { return ResolveFolder(CSIDL_PROGRAMS, folder); }

int WinShortcutSystem::MakeFolders(const std::u16string& path, size_t start) {
  WinInstallFileSystem fs;
  std::u16string folder, rest;
  return MakeDirectoryPath(fs, path, start, folder, rest);
}

bool WinShortcutSystem::MakeLink(const std::u16string& target, const std::u16string& link,
                                 const std::u16string& workingDirectory) {
  return MakeShellLink(target, link, workingDirectory);
}

bool WinShortcutSystem::List(const std::u16string& folder, std::vector<FolderEntry>& entries) {
  entries.clear();
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(vx::ToWide(folder + u"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    entries.push_back({vx::FromWide(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return true;
}

bool WinShortcutSystem::FileExists(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(vx::ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WinShortcutSystem::RemoveFile(const std::u16string& path) {
  SetFileAttributesW(vx::ToWide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(vx::ToWide(path).c_str()) != FALSE;
}

bool WinShortcutSystem::RemoveEmptyFolder(const std::u16string& path) {
  return RemoveDirectoryW(vx::ToWide(path).c_str()) != FALSE;
}

void CreateShortcutsDriven(SetupState& s, StatusSink& sink) {
  ComScope com;
  WinShortcutSystem system;
  DrivenShortcutReporter reporter(sink);
  MakeShortcuts(s, system, reporter, true);
}

void CreateShortcuts(SetupState& s, WizardSurface& surface) {
  ComScope com;
  WinShortcutSystem system;
  WizardShortcutReporter reporter(surface);
  RemoveOldShortcutLinks(s, system, reporter);
  MakeShortcuts(s, system, reporter, false);
}

}  // namespace setup
