#include "update/file_key_rules.h"

#include "base/path_join.h"
#include "base/utf16.h"

namespace update {

std::u16string NormaliseFileKey(std::u16string_view key) {
  std::u16string out(key);
  for (char16_t& c : out)
    if (c == u'/') c = u'\\';
  if (out.starts_with(u".\\"))
    out.erase(0, 2);
  else if (out.starts_with(u"\\"))
    out.erase(0, 1);
  return out;
}

bool CheckFileKey(std::u16string_view normalised, std::string& reason) {
  if (normalised.size() > kMaxFileKeyLength) {
    reason = "file key of " + std::to_string(normalised.size()) + " characters (at most " +
             std::to_string(kMaxFileKeyLength) + ")";
    return false;
  }
  if (!vx::IsSafeRelativePath(normalised)) {
    reason = "unsafe file key \"" + vx::Utf16ToUtf8(normalised) + "\"";
    return false;
  }
  return true;
}

}  // namespace update
