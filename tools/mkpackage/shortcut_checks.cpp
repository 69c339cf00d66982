#include "tools/mkpackage/shortcut_checks.h"

#include <algorithm>
#include <set>

#include "base/fixed_field.h"
#include "base/path_case.h"
#include "tools/mkpackage/package_inspector.h"

namespace mkpackage {
namespace {

using package::ShortcutEntry;

std::string FieldName(const CaptionLanguage& l) { return std::string("Caption") + l.name; }

size_t FieldWidth(const CaptionLanguage& l) {
  for (const auto& f : package::ShortcutFields())
    if (f.text == l.caption) return f.width;
  return 0;
}

std::string Where(const package::ShortcutList& list, size_t index, const ShortcutEntry& e) {
  return std::string(list.name) + "[" + std::to_string(index) + "] (Target \"" + PrintableText(e.Target) + "\")";
}

std::u16string Comparable(std::u16string path) {
  std::replace(path.begin(), path.end(), u'/', u'\\');
  return vx::FoldCase(path);
}

}  // namespace

const std::vector<CaptionLanguage>& CaptionLanguages() {
  static const std::vector<CaptionLanguage> languages = {
      {"Gb", "simplified Chinese", 1, &ShortcutEntry::CaptionGb},
      {"Big5", "traditional Chinese", 2, &ShortcutEntry::CaptionBig5},
      {"En", "English", 3, &ShortcutEntry::CaptionEn},
      {"Jp", "Japanese", 4, &ShortcutEntry::CaptionJp},
  };
  return languages;
}

const CaptionLanguage* FindCaptionLanguage(const std::string& name) {
  for (const auto& l : CaptionLanguages())
    if (name == l.name) return &l;
  return nullptr;
}

std::vector<const CaptionLanguage*> InstallLanguages(const package::PackageHeader& header) {
  std::vector<const CaptionLanguage*> out;
  for (const auto& l : CaptionLanguages())
    if (l.headerNumber == header.DefaultLanguage) return {&l};
  for (const auto& l : CaptionLanguages()) out.push_back(&l);
  return out;
}

bool CheckShortcutCaptions(package::PackageHeader& header, const CaptionLanguage* fallback,
                           std::vector<std::string>& filled, std::string& error) {
  std::string missing;
  for (const auto& list : package::ShortcutLists()) {
    auto& entries = header.*list.list;
    for (size_t i = 0; i < entries.size(); ++i) {
      ShortcutEntry& e = entries[i];
      for (const CaptionLanguage* l : InstallLanguages(header)) {
        std::u16string& caption = e.*l->caption;
        if (!caption.empty()) continue;
        const std::string what = Where(list, i, e) + ": no " + FieldName(*l) + " (" + l->language + ")";
        const std::u16string source = fallback ? e.*fallback->caption : std::u16string();
        if (source.empty()) {
          missing += "\n  " + what + (fallback ? ", and no " + FieldName(*fallback) + " to fill it from" : "");
        } else if (source.size() > vx::FieldCapacity(FieldWidth(*l))) {
          missing += "\n  " + what + ", and " + FieldName(*fallback) + " is too long for it (" +
                     std::to_string(source.size()) + " characters, at most " +
                     std::to_string(vx::FieldCapacity(FieldWidth(*l))) + ")";
        } else {
          caption = source;
          filled.push_back(Where(list, i, e) + ": " + FieldName(*l) + " (" + l->language + ") filled from " +
                           FieldName(*fallback) + " \"" + PrintableText(source) + "\"");
        }
      }
    }
  }
  if (missing.empty()) return true;
  error = "shortcuts without a caption in a language the package can be installed in (each would be a link "
          "named \".lnk\"; give the captions, fix DefaultLanguage, or build with --caption-fallback "
          "Gb|Big5|En|Jp):" +
          missing;
  return false;
}

std::vector<std::string> MissingTargetWarnings(const package::PackageHeader& header,
                                               const std::vector<std::u16string>& packedFiles) {
  std::set<std::u16string> packed{Comparable(u"uninstall.exe")};
  for (const auto& f : packedFiles) packed.insert(Comparable(f));
  std::vector<std::string> warnings;
  const auto absent = [&](const std::u16string& path) { return !packed.count(Comparable(path)); };
  if (!header.MainExe.empty() && absent(header.MainExe))
    warnings.push_back("warning: MainExe \"" + PrintableText(header.MainExe) + "\" is not among the packed files");
  for (const auto& list : package::ShortcutLists()) {
    const auto& entries = header.*list.list;
    for (size_t i = 0; i < entries.size(); ++i)
      if (absent(entries[i].Target))
        warnings.push_back("warning: " + std::string(list.name) + "[" + std::to_string(i) + "].Target \"" +
                           PrintableText(entries[i].Target) + "\" is not among the packed files");
  }
  return warnings;
}

}  // namespace mkpackage
