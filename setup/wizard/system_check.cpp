#include "setup/wizard/system_check.h"

#include <windows.h>

#include "setup/wizard/os_classification.h"

namespace setup {

bool CheckOperatingSystem(SetupState& s) {
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
      return false;  // prompt 0x10101 joins with the message tables
    case OsClass::Unknown:
      if (!s.DrivenMode) MessageBoxW(nullptr, L"check os version false!", L"", MB_OK);
      return false;
    case OsClass::Windows95Family:
      s.AllUsers = false;
      return true;
    case OsClass::NtFamily:
      s.AllUsers = true;
      return true;
  }
  return false;
}

}  // namespace setup
