#pragma once
// Drive types and free space of this system, for the destination rules.
#include <windows.h>

#include "base/utf16.h"
#include "setup/wizard/page_rules.h"

namespace setup {

class WinDriveQuery : public DriveQuery {
 public:
  unsigned DriveType(const std::u16string& root) override { return GetDriveTypeW(vx::ToWide(root).c_str()); }
  std::optional<uint64_t> FreeBytes(const std::u16string& root) override {
    const std::wstring wide = vx::ToWide(root);
    ULARGE_INTEGER available, total, free;
    if (GetDiskFreeSpaceExW(wide.c_str(), &available, &total, &free)) return free.QuadPart;
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, clusters;
    if (GetDiskFreeSpaceW(wide.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
      return uint64_t(sectorsPerCluster) * bytesPerSector * freeClusters;
    return std::nullopt;
  }
};

}  // namespace setup
