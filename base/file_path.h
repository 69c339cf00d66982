#pragma once
// A file-system path as the system spells it (UTF-16 on Windows), with only
// the few operations this code needs. The setup program uses it instead of
// std::filesystem::path, whose conversions bring the library's whole locale
// machinery into every package. Converts to and from std::filesystem::path
// for the host tools and tests.
#include <filesystem>
#include <string>

namespace vx {

class FilePath {
 public:
  using value_type = std::filesystem::path::value_type;
  using string_type = std::filesystem::path::string_type;

  FilePath() = default;
  FilePath(string_type s) : m_s(std::move(s)) {}
  FilePath(const value_type* s) : m_s(s) {}
  FilePath(const std::filesystem::path& p) : m_s(p.native()) {}
  operator std::filesystem::path() const { return std::filesystem::path(m_s); }

  const string_type& native() const { return m_s; }
  const value_type* c_str() const { return m_s.c_str(); }
  bool empty() const { return m_s.empty(); }

  // Everything before the last name, without trailing separators (a root
  // keeps its own); empty when there is no separator.
  FilePath parent_path() const;
  bool has_parent_path() const { return !parent_path().empty(); }
  // The last name (after the last separator).
  FilePath filename() const;

  // Appends a name with one separator; an absolute `name` replaces the path.
  FilePath& operator/=(const FilePath& name);
  friend FilePath operator/(FilePath a, const FilePath& b) { return a /= b; }
  // Mixed with the library's paths (host code): the library's result.
  friend std::filesystem::path operator/(const std::filesystem::path& a, const FilePath& b) {
    return a / std::filesystem::path(b.m_s);
  }
  FilePath& operator+=(const string_type& text) {
    m_s += text;
    return *this;
  }
  FilePath& operator+=(const value_type* text) {
    m_s += text;
    return *this;
  }
  friend bool operator==(const FilePath& a, const FilePath& b) { return a.m_s == b.m_s; }
  friend bool operator!=(const FilePath& a, const FilePath& b) { return a.m_s != b.m_s; }

  static bool IsSeparator(value_type c) {
#ifdef _WIN32
    return c == L'\\' || c == L'/';
#else
    return c == '/';
#endif
  }

 private:
  size_t RootLength() const;
  string_type m_s;
};

}  // namespace vx
