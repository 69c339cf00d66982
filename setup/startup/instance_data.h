#pragma once
// The instance marker group in the program's initialised data: marker word 1,
// marker word 2, header offset. The packager and the uninstaller writer find
// it in the file by its marker pair and patch it.
#include <cstdint>

extern "C" volatile uint32_t g_instanceMarkerGroup[3];

namespace setup {

inline uint32_t MarkerWord1() { return g_instanceMarkerGroup[0]; }
inline uint32_t MarkerWord2() { return g_instanceMarkerGroup[1]; }
inline uint32_t HeaderOffset() { return g_instanceMarkerGroup[2]; }

}  // namespace setup
