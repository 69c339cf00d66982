#pragma once
// Windows-style path rules shared by every part.
#include <string>
#include <string_view>

namespace vx {

// Joins with a backslash only when the left part does not already end with one.
std::u16string JoinPath(std::u16string_view left, std::u16string_view right);

// Appends a trailing backslash when missing.
std::u16string WithTrailingBackslash(std::u16string_view path);

// A relative payload path that stays inside its folder: not empty, no drive
// letter or colon, no leading backslash or slash, no "." or ".." component,
// no empty component, no control or wildcard characters. One trailing
// separator is allowed (a folder).
bool IsSafeRelativePath(std::u16string_view path);

}  // namespace vx
