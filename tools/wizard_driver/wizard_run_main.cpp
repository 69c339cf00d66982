// Clicks a wizard through as a user who accepts every default would, and
// prints how long its run took (for benchmarks):
//   wizard_run install PACKAGE DEST        installs into DEST
//   wizard_run uninstall UNINSTALLER DEST  complete removal of DEST ("Delete All")
//   wizard_run partial UNINSTALLER DEST    partial removal of DEST
// Prints "ready MS" (from the start to the first page), "run MS" (from the
// click that starts the run to the finish page) and "total MS" (from the start
// to the process's end). Exit code 0 when the
// wizard ended on its finish page, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/wizard_driver/wizard_driver.h"

using wizard_driver::WizardDriver;

namespace {

constexpr int kNext = 1003, kAccept = 1020, kFolder = 1024, kAddress = 1065, kRun = 1066, kPartly = 1045,
              kAll = 1046;
constexpr int kProgressPage = 9, kFinishPage = 11, kUninstallPage = 8;
constexpr DWORD kRunLimitMs = 30 * 60 * 1000;

double ElapsedMs(DWORD fromMs) { return double(GetTickCount() - fromMs); }

// Next pressed on every page up to the progress page.
bool WalkToProgress(WizardDriver& driver, const std::wstring& dest) {
  for (int page = driver.CurrentPage(); page != kProgressPage; page = driver.CurrentPage()) {
    if (page == -1 || page == kFinishPage) return false;
    if (page == 3) driver.Click(kAccept);
    if (page == 4) driver.Type(kFolder, dest);
    if (page == 6) driver.SetAddress(kAddress, 127, 0, 0, 1);
    Sleep(100);
    driver.Click(kNext);
    if (!wizard_driver::WaitFor([&] { const int now = driver.CurrentPage(); return now != page && now != -1; },
                                20000))
      return false;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc == 4 ? argv[1] : L"";
  if (mode != L"install" && mode != L"uninstall" && mode != L"partial") {
    std::fprintf(stderr, "usage: wizard_run install|uninstall|partial PROGRAM DEST\n");
    return 2;
  }
  const std::wstring dest = argv[3];
  const DWORD start = GetTickCount();
  WizardDriver driver;
  const bool install = mode == L"install";
  if (!driver.Start(argv[2], install ? L"" : L"\"" + dest + L"\"") || !driver.WaitFrame(60000)) {
    std::fprintf(stderr, "wizard_run: no wizard\n");
    return 1;
  }
  DWORD runStart = 0;
  if (install) {
    if (!wizard_driver::WaitFor([&] { return driver.CurrentPage() != -1; }, 20000)) return 1;
    std::printf("ready %.0f\n", ElapsedMs(start));
    if (!WalkToProgress(driver, dest)) {
      std::fprintf(stderr, "wizard_run: stuck on page %d\n", driver.CurrentPage());
      driver.Kill();
      return 1;
    }
    runStart = GetTickCount();
  } else {
    if (!driver.WaitPage(kUninstallPage, kRunLimitMs)) return 1;
    std::printf("ready %.0f\n", ElapsedMs(start));
    driver.Click(mode == L"partial" ? kPartly : kAll);
    Sleep(200);
    runStart = GetTickCount();
    driver.Click(kNext);
    if (mode == L"uninstall") {
      HWND box = driver.WaitMessageBox();
      if (!box) return 1;
      WizardDriver::Answer(box, IDYES);
    }
  }
  if (!driver.WaitPage(kFinishPage, kRunLimitMs)) {
    std::fprintf(stderr, "wizard_run: no finish page (page %d)\n", driver.CurrentPage());
    driver.Kill();
    return 1;
  }
  std::printf("run %.0f\n", ElapsedMs(runStart));
  if (driver.Checked(kRun)) driver.Click(kRun);
  Sleep(100);
  driver.Click(kNext);
  const DWORD code = driver.WaitExit(60000);
  std::printf("total %.0f\n", ElapsedMs(start));
  std::fflush(stdout);
  return code == 0 ? 0 : 1;
}
