#pragma once
// Textual comparison of version runs: from the first decimal digit, the run
// of digits and full stops, compared as UTF-16 text (3.10 sorts before 3.9).
#include <string>
#include <string_view>

namespace setup {

std::u16string_view VersionRun(std::u16string_view text);

// -1 when the installed run sorts before the package run, 0 equal, 1 after.
int CompareVersions(std::u16string_view installed, std::u16string_view package);

}  // namespace setup
