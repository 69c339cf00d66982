#pragma once
// std::filesystem paths to and from UTF-8 text. On Windows the conversion is
// our own: the library's goes through locale facets, which would bring the
// whole locale machinery into the setup program.
#include <filesystem>
#include <string>

#include "base/utf16.h"

namespace vx {

inline std::string PathToUtf8(const std::filesystem::path& p) {
#ifdef _WIN32
  return Utf16ToUtf8(FromWide(p.native()));
#else
  return p.native();
#endif
}

inline std::filesystem::path PathFromUtf8(const std::string& s) {
#ifdef _WIN32
  return std::filesystem::path(ToWide(Utf8ToUtf16(s)));
#else
  return std::filesystem::path(s);
#endif
}

}  // namespace vx
