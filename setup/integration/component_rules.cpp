#include "setup/integration/component_rules.h"

#include "setup/install/folder_safety.h"

namespace setup {

int ComponentKindFor(int serverPackage, std::u16string_view packageKind) {
  if (serverPackage != 0) return 0;
  if (packageKind == u"V3.0") return 3;
  if (packageKind == u"V4.0") return 4;
  return 0;
}

std::vector<std::u16string> SystemComponentsFor(bool driven, int serverPackage, int componentKind) {
  std::vector<std::u16string> names;
  if (driven) names = {u"qedit.dll", u"qrimgoleEx.dll"};
  else if (serverPackage == 0) names = {u"qrimgoleEx.dll"};
  if (driven || serverPackage == 0) {
    if (componentKind == 3) names.push_back(u"DavOzodu.vov");
    if (componentKind == 3 && !driven) names.push_back(u"qedit.dll");
    if (componentKind == 4) names.push_back(u"RunQrplayer.ocx");
  }
  names.push_back(u"qrgrabber.ax");
  return names;
}

bool IsPlacedComponentPath(std::u16string_view path, const std::vector<std::u16string>& systemFolders) {
  const size_t slash = path.find_last_of(u'\\');
  if (slash == std::u16string_view::npos) return false;
  const std::u16string name = ComparableFolder(path.substr(slash + 1));
  bool known = false;
  for (const char16_t* component : {u"qrimgoleEx.dll", u"DavOzodu.vov", u"RunQrplayer.ocx", u"qrgrabber.ax", u"qedit.dll"})
    known = known || name == ComparableFolder(component);
  if (!known) return false;
  const std::u16string folder = ComparableFolder(path.substr(0, slash));
  for (const auto& system : systemFolders)
    if (!system.empty() && folder == ComparableFolder(system)) return true;
  return false;
}

uint32_t SharedCountAfterInstall(std::optional<uint32_t> current, bool inPlace) {
  const uint32_t before = current ? *current : inPlace ? 1 : 0;
  return before == UINT32_MAX ? before : before + 1;
}

SharedRelease SharedCountAfterUninstall(std::optional<uint32_t> current) {
  SharedRelease r;
  if (!current) return r;
  r.lastUser = *current <= 1;
  if (!r.lastUser) r.count = *current - 1;
  return r;
}

void AddPathOnce(std::vector<std::u16string>& list, std::u16string_view path) {
  const std::u16string key = ComparableFolder(path);
  for (const auto& entry : list)
    if (ComparableFolder(entry) == key) return;
  list.emplace_back(path);
}

std::u16string PrivateSpoolFolder(std::u16string_view installDir) {
  std::u16string folder(installDir);
  while (!folder.empty() && folder.back() == u'\\') folder.pop_back();
  return folder + u"\\PrintSpool";
}

SpoolRestore PlanSpoolRestore(std::u16string_view installDir, bool currentPresent, std::u16string_view current,
                              bool previousKnown, std::u16string_view previous, std::u16string_view systemDefault) {
  SpoolRestore r;
  if (!currentPresent || current.empty() || ComparableFolder(current) != ComparableFolder(PrivateSpoolFolder(installDir)))
    return r;
  if (previousKnown && previous.empty()) {
    r.action = SpoolRestore::Delete;
    return r;
  }
  if (previousKnown && !IsSameOrInside(previous, installDir)) {
    r.action = SpoolRestore::Set;
    r.value = std::u16string(previous);
    return r;
  }
  if (systemDefault.empty()) {
    r.action = SpoolRestore::Delete;
    return r;
  }
  r.action = SpoolRestore::Set;
  r.value = std::u16string(systemDefault);
  return r;
}

}  // namespace setup
