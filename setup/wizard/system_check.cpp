#include "setup/wizard/system_check.h"

#include <windows.h>

#include "setup/wizard/os_classification.h"
#include "setup/wizard/prompts.h"

namespace setup {

bool CheckOperatingSystem(SetupState& s) {
  if (s.DrivenMode) ReportStatus(s.ControllerWindow, 0x10000);
  OSVERSIONINFOW info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;  // the basic 276-byte structure
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const bool known = GetVersionExW(&info) != FALSE;
#pragma GCC diagnostic pop
  const OsClass c = known ? ClassifyOs(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion)
                          : OsClass::Unknown;
  switch (c) {
    case OsClass::Unsupported:
      if (s.DrivenMode)
        ReportStatus(s.ControllerWindow, 0x10101);
      else
        Prompt(nullptr, 0x10101);
      return false;
    case OsClass::Unknown:
      if (s.DrivenMode)
        ReportStatus(s.ControllerWindow, 0x40102);
      else
        MessageBoxW(nullptr, L"check os version false!", L"", MB_OK);
      return false;
    case OsClass::Windows95Family:
    case OsClass::NtFamily:
      s.AllUsers = c == OsClass::NtFamily;
      if (s.DrivenMode) ReportStatus(s.ControllerWindow, 0x20000);
      return true;
  }
  return false;
}

}  // namespace setup
