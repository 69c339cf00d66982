#pragma once
// A backslash path of the install (install folder + file key) as a path of
// the running system: itself on Windows, with "/" separators elsewhere (the
// host tests).
#include "base/file_path.h"
#include "base/utf16.h"
#include <string>
#include <string_view>

namespace update {

inline vx::FilePath LocalPath(std::u16string_view path) {
#ifdef _WIN32
  return vx::FilePath(std::wstring(path.begin(), path.end()));
#else
  std::u16string s(path);
  for (char16_t& c : s)
    if (c == u'\\') c = u'/';
  return vx::FilePath(vx::Utf16ToUtf8(s));
#endif
}

// The other way: a local folder as the client's backslash text.
inline std::u16string InstallText(const vx::FilePath& path) {
#ifdef _WIN32
  const std::wstring& w = path.native();
  return std::u16string(w.begin(), w.end());
#else
  std::u16string s = vx::Utf8ToUtf16(path.native());
  for (char16_t& c : s)
    if (c == u'/') c = u'\\';
  return s;
#endif
}

}  // namespace update
