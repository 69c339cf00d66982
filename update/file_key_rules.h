#pragma once
// File keys from the update server become paths below the install folder.
// A key is normalised ("/" becomes "\", one leading "\" or ".\" goes) and
// refused when it could leave that folder or cannot be a path there.
#include <cstddef>
#include <string>
#include <string_view>

namespace update {

// Longest normalised key accepted on its own (the install folder and the
// ".udt!" and ".sd!" suffixes still have to fit in a 260-character path).
inline constexpr size_t kMaxFileKeyLength = 240;
// Longest full path the download writes, suffixes included.
inline constexpr size_t kMaxDownloadPathLength = 259;
// What a download adds to the final path: ".udt!" and then ".sd!".
inline constexpr size_t kDownloadSuffixLength = 9;

std::u16string NormaliseFileKey(std::u16string_view key);

// Checks a normalised key: relative, no drive or colon, no "." or ".."
// component, no empty component, no wildcard or control character, at most
// kMaxFileKeyLength characters. False with a reason naming the key.
bool CheckFileKey(std::u16string_view normalised, std::string& reason);

}  // namespace update
