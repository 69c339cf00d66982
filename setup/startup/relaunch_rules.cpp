#include "setup/startup/relaunch_rules.h"

#include "base/command_line.h"

namespace setup {

std::u16string RelaunchCommandLine(const std::u16string& program, const std::u16string& folder) {
  return vx::QuoteArgument(program) + u" " + vx::QuoteArgument(folder);
}

bool IsTemporaryCopy(const std::u16string& modulePath, const std::u16string& tempFolder) {
  const size_t slash = modulePath.find_last_of(u'\\');
  if (slash == std::u16string::npos || tempFolder.empty()) return false;
  std::u16string folder = modulePath.substr(0, slash), temp = tempFolder;
  while (!temp.empty() && temp.back() == u'\\') temp.pop_back();
  const std::u16string name = modulePath.substr(slash + 1);
  const auto upper = [](std::u16string t) {
    for (char16_t& c : t)
      if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
    return t;
  };
  return upper(folder) == upper(temp) && upper(name).rfind(u"ZZ~", 0) == 0;
}

}  // namespace setup
