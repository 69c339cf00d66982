#include "setup/integration/shortcut_rules.h"

#include "base/path_join.h"

namespace setup {

const std::u16string& CaptionIn(const package::ShortcutEntry& e, int language) {
  switch (language) {
    case 2:
      return e.CaptionGb;
    case 3:
      return e.CaptionBig5;
    case 4:
      return e.CaptionJp;
    default:
      return e.CaptionEn;
  }
}

bool IsSafeProgramGroup(std::u16string_view group) {
  return !group.empty() && group.back() != u'\\' && group.back() != u'/' && vx::IsSafeRelativePath(group);
}

bool IsSafeLinkName(std::u16string_view caption) {
  if (caption.empty()) return false;
  for (char16_t c : caption)
    if (c < 0x20 || c == u'\\' || c == u'/' || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' ||
        c == u'>' || c == u'|')
      return false;
  return true;
}

std::u16string ShortcutFolder(ShortcutKind kind, std::u16string_view base, std::u16string_view group) {
  switch (kind) {
    case ShortcutKind::ProgramGroup:
      return vx::JoinPath(base, group);
    case ShortcutKind::QuickLaunch:
      return vx::JoinPath(base, u"Microsoft\\Internet Explorer\\Quick Launch");
    default:
      return std::u16string(base);
  }
}

std::u16string LinkPath(std::u16string_view folder, std::u16string_view caption) {
  return vx::JoinPath(folder, caption) + u".lnk";
}

bool SameFileName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = char16_t(x - 32);
    if (y >= u'a' && y <= u'z') y = char16_t(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool IsOwnLinkName(std::u16string_view fileName, const std::vector<package::ShortcutEntry>& entries) {
  for (const auto& e : entries)
    for (const std::u16string* caption : {&e.CaptionGb, &e.CaptionBig5, &e.CaptionEn, &e.CaptionJp})
      if (IsSafeLinkName(*caption) && SameFileName(fileName, *caption + u".lnk")) return true;
  return false;
}

std::u16string ParentFolder(std::u16string_view path) {
  const size_t slash = path.rfind(u'\\');
  return slash == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, slash));
}

}  // namespace setup
