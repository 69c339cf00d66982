#pragma once
// Checks of a manifest's shortcuts before a package is made. The caption in
// the install's language names a shortcut's link, so a shortcut without one
// in a language the package can be installed in would become a link named
// ".lnk". A target or main executable that the package does not carry would
// make a link or an entry that points nowhere.
#include <cstdint>
#include <string>
#include <vector>

#include "setup/package/package_header.h"

namespace mkpackage {

struct CaptionLanguage {
  const char* name;      // as in the manifest's field names: "Gb", "Big5", "En", "Jp"
  const char* language;  // "simplified Chinese", ...
  int32_t headerNumber;  // the DefaultLanguage value that fixes it
  std::u16string package::ShortcutEntry::*caption;
};
const std::vector<CaptionLanguage>& CaptionLanguages();
// Null when `name` is none of "Gb", "Big5", "En", "Jp".
const CaptionLanguage* FindCaptionLanguage(const std::string& name);

// The one language `DefaultLanguage` fixes (1-4), else all four.
std::vector<const CaptionLanguage*> InstallLanguages(const package::PackageHeader& header);

// Every shortcut needs a caption in each install language. With `fallback`,
// a missing one is copied from that language's caption, one line in `filled`
// each. False, with `error` naming the list, the entry and the language of
// each shortcut still without one.
bool CheckShortcutCaptions(package::PackageHeader& header, const CaptionLanguage* fallback,
                           std::vector<std::string>& filled, std::string& error);

// One warning for each shortcut target and for `MainExe` when it is not one
// of `packedFiles` (relative paths with backslashes, compared as Windows
// does). "uninstall.exe" is always there: the install writes it.
std::vector<std::string> MissingTargetWarnings(const package::PackageHeader& header,
                                               const std::vector<std::u16string>& packedFiles);

}  // namespace mkpackage
