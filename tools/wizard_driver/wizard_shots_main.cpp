// wizard_shots PACKAGE OUTDIR: walks the wizard of PACKAGE in each of the
// four languages and saves every page it shows as OUTDIR\<language>-<NN>.bmp.
// The package should show every page (language page, licence, tasks).
#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/wizard_driver/wizard_driver.h"

namespace fs = std::filesystem;
using wizard_driver::WizardDriver;

namespace {

constexpr int kNext = 1003, kLanguageList = 1071, kAccept = 1020, kFolder = 1024, kAddress = 1065, kRun = 1066;
const wchar_t* const kLanguages[] = {L"en", L"zh-CN", L"zh-TW", L"ja"};

bool Save(WizardDriver& driver, const fs::path& folder, const wchar_t* language, int page) {
  Sleep(400);  // let the page repaint
  wchar_t name[64];
  swprintf(name, 64, L"%ls-%02d.bmp", language, page);
  const bool ok = driver.SaveScreenshot(folder / name);
  std::printf("%ls page %d: %s\n", language, page, ok ? "saved" : "FAILED");
  return ok;
}

bool Walk(const fs::path& package, const fs::path& folder, int languageIndex) {
  const wchar_t* language = kLanguages[languageIndex];
  WizardDriver driver;
  if (!driver.Start(package) || !driver.WaitFrame() || !driver.WaitPage(1)) return false;
  driver.Choose(kLanguageList, languageIndex);
  bool ok = Save(driver, folder, language, 1);
  for (int page = 1; page != 9;) {
    if (page == 3) driver.Click(kAccept);
    if (page == 4) driver.Type(kFolder, std::wstring(L"C:\\Quorin Shots\\") + language);
    if (page == 6) driver.SetAddress(kAddress, 127, 0, 0, 1);
    Sleep(200);
    driver.Click(kNext);
    if (!wizard_driver::WaitFor([&] { return driver.CurrentPage() > page; }, 10000)) return false;
    page = driver.CurrentPage();
    ok = Save(driver, folder, language, page) && ok;
  }
  if (!driver.WaitPage(11)) return false;
  ok = Save(driver, folder, language, 11) && ok;
  if (driver.Checked(kRun)) driver.Click(kRun);
  Sleep(200);
  driver.Click(kNext);
  return driver.WaitExit() == 0 && ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: wizard_shots PACKAGE OUTDIR\n");
    return 2;
  }
  const fs::path folder = argv[2];
  fs::create_directories(folder);
  int failures = 0;
  for (int i = 0; i < 4; ++i)
    if (!Walk(argv[1], folder, i)) {
      std::fprintf(stderr, "%ls: the wizard did not run through\n", kLanguages[i]);
      ++failures;
    }
  std::printf("wizard_shots: %s\n", failures ? "failed" : "done");
  std::fflush(stdout);
  return failures ? 1 : 0;
}
