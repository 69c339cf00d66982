#pragma once
// The outside encoder installer a V4.0 client package carries.
#include <string>

namespace setup {

// Starts `folder`\WMEncoder_cn.exe with "/Q", hidden, and waits for it at most
// `limitMs`; false when it is missing, cannot start or still runs at the
// limit (it is left running).
bool RunEncoderInstaller(const std::wstring& folder, unsigned limitMs);

}  // namespace setup
