#pragma once
// std::filesystem paths to and from UTF-8 text.
#include <filesystem>
#include <string>

namespace vx {

inline std::string PathToUtf8(const std::filesystem::path& p) {
  const auto s = p.u8string();
  return std::string(s.begin(), s.end());
}

inline std::filesystem::path PathFromUtf8(const std::string& s) {
  return std::filesystem::path(std::u8string(s.begin(), s.end()));
}

}  // namespace vx
