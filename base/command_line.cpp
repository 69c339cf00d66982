#include "base/command_line.h"

namespace vx {

std::u16string QuoteArgument(std::u16string_view item) {
  std::u16string out = u"\"";
  size_t backslashes = 0;
  for (char16_t c : item) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') backslashes = backslashes * 2 + 1;
    out.append(backslashes, u'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, u'\\');
  out.push_back(u'"');
  return out;
}

}  // namespace vx
