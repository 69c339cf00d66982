#pragma once
// The text the wizard shows when the online-install client ends it on a
// network error.
#include <cstdint>

namespace setup {

// The text key for `errorCode`; 0 for the codes that show nothing (0 and
// 10038). 792 takes the code as its argument.
uint16_t NetworkErrorText(int errorCode, bool duringDownload);

}  // namespace setup
