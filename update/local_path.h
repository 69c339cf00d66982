#pragma once
// A backslash path of the install (install folder + file key) as a path of
// the running system: itself on Windows, with "/" separators elsewhere (the
// host tests).
#include <filesystem>
#include <string>
#include <string_view>

namespace update {

inline std::filesystem::path LocalPath(std::u16string_view path) {
#ifdef _WIN32
  return std::filesystem::path(std::wstring(path.begin(), path.end()));
#else
  std::u16string s(path);
  for (char16_t& c : s)
    if (c == u'\\') c = u'/';
  return std::filesystem::path(s);
#endif
}

// The other way: a local folder as the client's backslash text.
inline std::u16string InstallText(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::wstring w = path.wstring();
  return std::u16string(w.begin(), w.end());
#else
  std::u16string s = path.u16string();
  for (char16_t& c : s)
    if (c == u'/') c = u'\\';
  return s;
#endif
}

}  // namespace update
