#include "setup/install/driven_install.h"

#include "setup/install/folder_safety.h"
#include "setup/install/install_run.h"
#include "setup/install/ordered_status_sink.h"
#include "setup/integration/integration_steps.h"
#include "setup/install/payload_extraction.h"
#include "setup/startup/setup_state.h"
#include "setup/install/win_install_file_system.h"
#include "setup/install/win_system_folders.h"
#include "setup/install/win_drive_query.h"
#include "setup/wizard/prompts.h"

namespace setup {
namespace {

class ControllerSink : public StatusSink {
 public:
  explicit ControllerSink(uintptr_t controller) : m_controller(controller) {}
  void Report(uint32_t code) override { ReportStatus(m_controller, code); }
  void Report(uint32_t code, const std::u16string& argument) override {
    ReportStatusWithArgument(m_controller, code, argument);
  }

 private:
  uintptr_t m_controller;
};

}  // namespace

void RunDrivenInstall(uint64_t payloadOffset) {
  SetupState& s = State();
  ControllerSink controller(s.ControllerWindow);
  OrderedStatusSink sink(controller);  // every report sent before the run returns
  DrivenExtractionReporter reporter(sink);
  // A destination the wizard would refuse, relative, with a "." or ".."
  // component, or a system or special folder: nothing is installed.
  WinDriveQuery drives;
  if (!DrivenDestinationAllowed(s.InstallDir, drives, SystemFolders(), ProtectedFolders())) {
    sink.Report(status::kCannotCreate, s.InstallDir);
    return;
  }
  WinInstallFileSystem fs;
  std::unique_ptr<PackageFile> package;
  if (!ExtractPayload(fs, s, payloadOffset, reporter, package)) return;
  if (!package->Seek(0)) {
    sink.Report(status::kInstallError);
    return;
  }

  CreateShortcutsDriven(s, sink);

  PrepareComponentRecord(s, true);
  const std::u16string uninstaller = s.InstallDir + u"uninstall.exe";
  switch (CreateUninstaller(fs, s, *package, uninstaller)) {
    case UninstallerOutcome::ImageUnreadable:
      sink.Report(status::kInstallError);
      return;
    case UninstallerOutcome::Written:
      sink.Report(status::kCreateUninstaller, uninstaller);
      break;
    case UninstallerOutcome::WriteFailed:
      sink.Report(status::kUninstallerFailed);
      break;
  }
  package.reset();

  sink.Report(RunRegistryGroup(s, false) ? status::kAddRegistry : status::kRegistryFailed);
  sink.Report(RunDrivenComponentGroup(s) ? status::kRegisterComponents : status::kComponentsFailed);
  sink.Report(status::kCompleted);
}

}  // namespace setup
