#pragma once
// File names as Windows compares them: without regard to letter case.
#include <string>
#include <string_view>

namespace vx {

// `name` with every letter in its upper-case form: ASCII, Latin-1, Greek,
// Cyrillic and full-width Latin letters (the letters of the names this
// system meets; other characters are kept).
std::u16string FoldCase(std::u16string_view name);

// True when `a` and `b` name the same path on Windows apart from 8.3 short
// names: equal after FoldCase.
bool SamePathIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace vx
