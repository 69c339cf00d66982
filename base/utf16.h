#pragma once
// UTF-16 text helpers. Text is UTF-16 throughout the system; std::u16string is
// the portable form, std::wstring the Win32 form (same code units on Windows).
#include <string>
#include <string_view>

namespace vx {

// Standard UTF-8 <-> UTF-16. Invalid input units become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// The byte stream's encoding: each UTF-16 code unit as 1, 2 or 3 bytes (Basic
// Multilingual Plane only; a surrogate is encoded on its own). Decoding also
// accepts 4-byte sequences and yields a surrogate pair.
std::string Utf16ToStreamUtf8(std::u16string_view utf16);

#ifdef _WIN32
inline std::wstring ToWide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }
inline std::u16string FromWide(std::wstring_view s) { return std::u16string(s.begin(), s.end()); }
// Conversion through the ANSI code page (CP_ACP).
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view utf16);
#endif

}  // namespace vx
