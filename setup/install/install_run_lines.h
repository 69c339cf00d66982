#pragma once
// Detail lines of the install run's own steps (after extraction and
// shortcuts), by text key.
#include <cstdint>

namespace setup {

inline constexpr uint16_t kLineUninstaller = 381, kLineUninstallerFailed = 383, kLineRegistry = 385,
                          kLineRegistryFailed = 387, kLineComponents = 389, kLineComponentsFailed = 487,
                          kLineCompleted = 391;

// The lines an online run also shows as the download page's status text:
// the steps that went through and the end, nothing else.
constexpr bool ShownOnDownloadPage(uint16_t key) {
  return key == kLineUninstaller || key == kLineRegistry || key == kLineComponents || key == kLineCompleted;
}

}  // namespace setup
