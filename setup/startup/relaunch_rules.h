#pragma once
// The portable rules of the relaunch from a temporary copy.
#include <string>

namespace setup {

// "\"<program>\" \"<folder>\"", quoted so that the copy's argument vector is
// exactly the two, whatever spaces or trailing backslashes they hold.
std::u16string RelaunchCommandLine(const std::u16string& program, const std::u16string& folder);

// `modulePath` is a "zz~" file directly in `tempFolder` (case ignored).
bool IsTemporaryCopy(const std::u16string& modulePath, const std::u16string& tempFolder);

}  // namespace setup
