#include "setup/wizard/version_compare.h"

namespace setup {

std::u16string_view VersionRun(std::u16string_view text) {
  size_t start = 0;
  while (start < text.size() && !(text[start] >= u'0' && text[start] <= u'9')) ++start;
  size_t end = start;
  while (end < text.size() && ((text[end] >= u'0' && text[end] <= u'9') || text[end] == u'.')) ++end;
  return text.substr(start, end - start);
}

int CompareVersions(std::u16string_view installed, std::u16string_view package) {
  const int c = VersionRun(installed).compare(VersionRun(package));
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace setup
