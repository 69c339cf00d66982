#include "base/path_case.h"

namespace vx {
namespace {

char16_t Upper(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||  // ASCII, Latin-1
      (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||                            // Greek
      (c >= 0x430 && c <= 0x44F))                                            // Cyrillic
    return char16_t(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c == 0x3C2) return 0x3A3;                                               // final sigma
  if (c >= 0x450 && c <= 0x45F) return char16_t(c - 0x50);                   // Cyrillic Ѐ-Џ
  if (c >= 0xFF41 && c <= 0xFF5A) return char16_t(c - 0x20);                 // full-width Latin
  return c;
}

}  // namespace

std::u16string FoldCase(std::u16string_view name) {
  std::u16string folded(name);
  for (auto& c : folded) c = Upper(c);
  return folded;
}

bool SamePathIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

}  // namespace vx
