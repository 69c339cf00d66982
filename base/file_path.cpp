#include "base/file_path.h"

namespace vx {

// "/" on POSIX; "C:\", "C:", "\" and "\\server\" on Windows.
size_t FilePath::RootLength() const {
#ifdef _WIN32
  const size_t n = m_s.size();
  if (n >= 2 && m_s[1] == L':') return n >= 3 && IsSeparator(m_s[2]) ? 3 : 2;
  if (n >= 2 && IsSeparator(m_s[0]) && IsSeparator(m_s[1])) {
    // \\server\ (the share is a name, as the library has it)
    size_t i = 2;
    while (i < n && !IsSeparator(m_s[i])) ++i;
    return i < n ? i + 1 : i;
  }
#endif
  return !m_s.empty() && IsSeparator(m_s[0]) ? 1 : 0;
}

FilePath FilePath::parent_path() const {
  const size_t root = RootLength();
  size_t end = m_s.size();
  while (end > root && !IsSeparator(m_s[end - 1])) --end;  // the last name
  if (end == root) return FilePath(m_s.substr(0, root));
  while (end > root && IsSeparator(m_s[end - 1])) --end;  // its separators
  return FilePath(m_s.substr(0, end));
}

FilePath FilePath::filename() const {
  const size_t root = RootLength();
  size_t start = m_s.size();
  while (start > root && !IsSeparator(m_s[start - 1])) --start;
  return FilePath(m_s.substr(start));
}

FilePath& FilePath::operator/=(const FilePath& name) {
  if (name.RootLength() > 0) {
    m_s = name.m_s;
    return *this;
  }
  if (!m_s.empty() && !IsSeparator(m_s.back()) && RootLength() != m_s.size())
    m_s += static_cast<value_type>(
#ifdef _WIN32
        L'\\'
#else
        '/'
#endif
    );
  m_s += name.m_s;
  return *this;
}

}  // namespace vx
