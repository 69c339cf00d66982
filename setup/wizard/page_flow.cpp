#include "setup/wizard/page_flow.h"

#include "setup/wizard/version_compare.h"

namespace setup {

bool EnablePages(SetupState& s, const std::optional<ProductRecord>& record, const Confirm& confirm,
                 const Inform& inform, PageSet& pages) {
  const package::PackageHeader& h = s.header;
  pages.fill(false);
  if (s.UninstallMode) {
    if (record) {
      const bool same = record->guid == h.ProductID && record->version == h.VersionLabel;
      if (same && record->installPath != s.InstallDir) {
        inform(0x40102);
        return false;
      }
      if (!same) s.RegistryRecordOwn = false;
    }
    pages[8] = pages[9] = pages[11] = true;
    return true;
  }

  if (record && record->guid == h.ProductID) {
    const int order = CompareVersions(record->version, h.VersionLabel);
    if (order < 0 && !confirm(0x40001)) return false;
    if (order > 0 && !confirm(0x40002)) return false;
    s.InstallDir = record->installPath;
    s.EarlierInstallDir = record->installPath;
  }
  pages[1] = h.DefaultLanguage == 0;
  pages[2] = true;
  pages[3] = h.ShowLicence != 0;
  pages[4] = true;
  pages[5] = s.hasProgramGroup;
  pages[6] = s.AskServerAddress && h.ServerPackage == 0;
  pages[7] = true;
  pages[9] = h.OnlineInstall == 0;
  pages[10] = h.OnlineInstall != 0;
  pages[11] = true;
  return true;
}

int NextPage(const PageSet& pages, int current) {
  for (int i = current + 1; i < kPageSlots; ++i)
    if (pages[i]) return i;
  return -1;
}

int PreviousPage(const PageSet& pages, int current) {
  for (int i = current - 1; i >= 0; --i)
    if (pages[i]) return i;
  return -1;
}

}  // namespace setup
