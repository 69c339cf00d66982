#include "setup/install/folder_safety.h"

namespace setup {

std::u16string ComparableFolder(std::u16string_view path) {
  std::u16string out(path);
  for (char16_t& c : out) {
    if (c == u'/') c = u'\\';
    if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
  }
  while (!out.empty() && out.back() == u'\\') out.pop_back();
  return out;
}

bool IsDriveRoot(std::u16string_view path) {
  const std::u16string p = ComparableFolder(path);
  if (p.size() == 2 && p[1] == u':') return true;
  if (p.size() > 2 && p[0] == u'\\' && p[1] == u'\\') {
    const size_t server = p.find(u'\\', 2);
    return server == std::u16string::npos || p.find(u'\\', server + 1) == std::u16string::npos;
  }
  return p.empty();
}

bool IsSameOrInside(std::u16string_view inner, std::u16string_view outer) {
  const std::u16string i = ComparableFolder(inner), o = ComparableFolder(outer);
  if (o.empty()) return false;
  return i == o || (i.size() > o.size() && i.compare(0, o.size(), o) == 0 && i[o.size()] == u'\\');
}

bool IsProtectedFolder(std::u16string_view path, const std::vector<std::u16string>& protectedFolders) {
  if (IsDriveRoot(path)) return true;
  for (const auto& folder : protectedFolders)
    if (!folder.empty() && IsSameOrInside(folder, path)) return true;
  return false;
}

bool IsAbsolutePath(std::u16string_view path) {
  if (path.size() >= 3 && path[1] == u':' && path[2] == u'\\') {
    const char16_t d = path[0];
    return (d >= u'A' && d <= u'Z') || (d >= u'a' && d <= u'z');
  }
  return path.size() > 2 && path[0] == u'\\' && path[1] == u'\\' && path[2] != u'\\' && path[2] != u'?' &&
         path[2] != u'.';
}

bool HasDotComponent(std::u16string_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && path[end] != u'\\' && path[end] != u'/') ++end;
    const std::u16string_view part = path.substr(start, end - start);
    if (part == u"." || part == u"..") return true;
    start = end + 1;
  }
  return false;
}

bool DrivenDestinationAllowed(const std::u16string& path, DriveQuery& drives,
                              const std::vector<std::u16string>& systemFolders,
                              const std::vector<std::u16string>& protectedFolders) {
  if (!IsAbsolutePath(path) || HasDotComponent(path) || path.find(u'/') != std::u16string::npos) return false;
  if (!CheckDestinationFolder(path, drives).valid) return false;
  for (const auto& folder : systemFolders)
    if (!folder.empty() && IsSameOrInside(path, folder)) return false;
  return !IsProtectedFolder(path, protectedFolders);
}

}  // namespace setup
