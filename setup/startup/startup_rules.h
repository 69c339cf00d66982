#pragma once
// Start-up decisions that need no system call: the role from the instance
// marker and the command line, the language rules.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "setup/package/instance_marker.h"

namespace setup {

// 1028 -> traditional Chinese, 1041 -> Japanese, 2052 -> simplified Chinese,
// anything else -> English.
int LanguageFromLocale(uint32_t lcid);

// "-en", "-gb", "-big", "-jp" in any case; 0 when unrecognised.
int LanguageFromSwitch(std::u16string_view text);

// The header numbers languages 1 Gb, 2 Big5, 3 En, 4 Jp; any other value
// leaves `current` unchanged.
int LanguageFromHeader(int32_t defaultLanguage, int current);

struct StartupPlan {
  enum class Action {
    RelaunchUninstaller,  // no arguments, uninstaller marker
    RelaunchUpdate,       // no arguments, update marker (after 2000 ms)
    Wizard,               // fresh package
    UpdateRun,            // update marker with a folder: remove the old installation, then wizard
    Driven,               // "-d"
    DrivenNoWindow,       // "-d" with window item 0 or missing: return at once
    Uninstall,            // any other first argument
  };
  Action action = Action::Wizard;
  std::u16string folder;          // PreviousDir (update) or InstallDir (uninstall, driven destination)
  bool hasDestination = false;    // driven: exactly six items
  uintptr_t controllerWindow = 0; // driven
  int language = 0;               // driven: from the switch, or the system language
};

// `args` is the wide argument vector including the program at position 0.
StartupPlan PlanStartup(const package::MarkerPair& marker, const std::vector<std::u16string>& args,
                        int systemLanguage);

}  // namespace setup
