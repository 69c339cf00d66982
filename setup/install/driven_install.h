#pragma once
#include <cstdint>

namespace setup {

// The driven install run on the start-up thread: extraction, shortcuts,
// uninstaller, registry and component groups, each step reported to the
// controlling window by status code; ends with 0x00000 unless a step of the
// extraction or the uninstaller image stopped it.
void RunDrivenInstall(uint64_t payloadOffset);

}  // namespace setup
