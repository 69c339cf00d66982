#pragma once
// Paths to and from UTF-8 text. On Windows the conversion is our own: the
// library's goes through locale facets.
#include <string>

#include "base/file_path.h"
#include "base/utf16.h"

namespace vx {

inline std::string PathToUtf8(const FilePath& p) {
#ifdef _WIN32
  return Utf16ToUtf8(FromWide(p.native()));
#else
  return p.native();
#endif
}

inline FilePath PathFromUtf8(const std::string& s) {
#ifdef _WIN32
  return FilePath(ToWide(Utf8ToUtf16(s)));
#else
  return FilePath(s);
#endif
}

}  // namespace vx
