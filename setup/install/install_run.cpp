#include "setup/install/install_run.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "base/utf16.h"
#include "setup/startup/instance_data.h"
#include "setup/integration/integration_steps.h"
#include "setup/install/install_run_lines.h"
#include "setup/install/payload_extraction.h"
#include "setup/uninstall/uninstaller_writer.h"
#include "setup/install/win_install_file_system.h"

namespace setup {
namespace {

// Vista and later keep the spooler folder closed to users until it has been
// opened once by the shell.
void OpenSpoolFolder(const SetupState& s) {
  OSVERSIONINFOW v = {};
  v.dwOSVersionInfoSize = sizeof v;
  if (!GetVersionExW(&v) || v.dwPlatformId != VER_PLATFORM_WIN32_NT || v.dwMajorVersion < 6 || !s.AllUsers)
    return;
  wchar_t system[MAX_PATH];
  if (!SHGetSpecialFolderPathW(nullptr, system, CSIDL_SYSTEM, FALSE)) return;
  const std::wstring folder = std::wstring(system) + L"\\spool\\PRINTERS\\";
  ShellExecuteW(nullptr, L"explore", nullptr, nullptr, folder.c_str(), SW_HIDE);
}

}  // namespace

UninstallerOutcome CreateUninstaller(InstallFileSystem& fs, const SetupState& s, PackageFile& package,
                                     const std::u16string& path) {
  std::vector<uint8_t> image;
  try {
    image.resize(HeaderOffset());
  } catch (const std::bad_alloc&) {
    return UninstallerOutcome::ImageUnreadable;
  }
  if (package.Read(image.data(), image.size()) != image.size()) return UninstallerOutcome::ImageUnreadable;
  // The running marker pair: fresh, or the update pair in an update run.
  if (WriteUninstaller(fs, s, path, std::move(image), {MarkerWord1(), MarkerWord2()}))
    return UninstallerOutcome::Written;
  fs.Delete(path);
  return UninstallerOutcome::WriteFailed;
}

bool RunInstallSequence(uint64_t payloadOffset, bool online, WizardSurface& surface) {
  SetupState& s = State();
  WinInstallFileSystem fs;
  WizardExtractionReporter reporter(surface);
  std::unique_ptr<PackageFile> package;
  if (online) {
    if (!OpenPackageForOnlineRun(fs, s, reporter, package)) return false;
  } else if (!ExtractPayload(fs, s, payloadOffset, reporter, package)) {
    return false;
  }
  if (!package->Seek(0)) return false;

  CreateShortcuts(s, surface);

  PrepareComponentRecord(s, false);
  const std::u16string uninstaller = s.InstallDir + u"uninstall.exe";
  switch (CreateUninstaller(fs, s, *package, uninstaller)) {
    case UninstallerOutcome::ImageUnreadable:
      return false;
    case UninstallerOutcome::Written:
      surface.DetailLine(kLineUninstaller, uninstaller);
      break;
    case UninstallerOutcome::WriteFailed:
      surface.DetailLine(kLineUninstallerFailed, {});
      break;
  }
  surface.AdvanceProgress(10);
  package.reset();

  OpenSpoolFolder(s);

  surface.DetailLine(RunRegistryGroup(s, true) ? kLineRegistry : kLineRegistryFailed, {});
  surface.AdvanceProgress(10);
  surface.DetailLine(RunComponentGroup(s) ? kLineComponents : kLineComponentsFailed, {});
  surface.AdvanceProgress(10);
  RunConfigurationStep(s);

  surface.DetailLine(kLineCompleted, {});
  surface.SetProgressPosition(s.FileCount + 100);
  return true;
}

}  // namespace setup
