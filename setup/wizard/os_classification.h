#pragma once
// The operating-system classification of the system check.
#include <cstdint>

namespace setup {

enum class OsClass { Unsupported, Windows95Family, NtFamily, Unknown };

// Platform ids as GetVersionEx reports them: 0 Win32s, 1 Windows, 2 NT.
OsClass ClassifyOs(uint32_t platform, uint32_t major, uint32_t minor);

}  // namespace setup
