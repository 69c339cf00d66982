#include "setup/wizard/os_classification.h"

namespace setup {

OsClass ClassifyOs(uint32_t platform, uint32_t major, uint32_t minor) {
  switch (platform) {
    case 0: return OsClass::Unsupported;
    case 1: return OsClass::Windows95Family;
    case 2:
      if (major <= 4) return OsClass::NtFamily;
      if (major == 5) return minor <= 2 ? OsClass::NtFamily : OsClass::Unknown;
      if (major == 6 && minor == 0) return OsClass::NtFamily;
      if (minor >= 1) return OsClass::NtFamily;  // 6.1 and above, any major >= 6
      return OsClass::Unknown;                    // 7.0, 8.0, ...
    default: return OsClass::Unknown;
  }
}

}  // namespace setup
