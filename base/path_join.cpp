#include "base/path_join.h"

namespace vx {

std::u16string JoinPath(std::u16string_view left, std::u16string_view right) {
  std::u16string out(left);
  if (out.empty() || out.back() != u'\\') out.push_back(u'\\');
  out.append(right);
  return out;
}

std::u16string WithTrailingBackslash(std::u16string_view path) {
  std::u16string out(path);
  if (out.empty() || out.back() != u'\\') out.push_back(u'\\');
  return out;
}

bool IsSafeRelativePath(std::u16string_view path) {
  if (!path.empty() && (path.back() == u'\\' || path.back() == u'/')) path.remove_suffix(1);
  if (path.empty()) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && path[end] != u'\\' && path[end] != u'/') ++end;
    const std::u16string_view part = path.substr(start, end - start);
    if (part.empty() || part == u"." || part == u"..") return false;
    for (char16_t c : part) {
      if (c < 0x20 || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' ||
          c == u'>' || c == u'|')
        return false;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace vx
