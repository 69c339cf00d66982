#include "setup/uninstall/removal_plan.h"

#include <algorithm>
#include <unordered_set>

#include "setup/install/folder_safety.h"

namespace setup {
namespace {

size_t Depth(const std::u16string& path) { return size_t(std::count(path.begin(), path.end(), u'\\')); }

std::u16string Trimmed(std::u16string path) {
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

// Unique (ignoring case), deepest first.
std::vector<std::u16string> DeepestFirst(std::vector<std::u16string> folders) {
  std::vector<std::u16string> out;
  std::unordered_set<std::u16string> seen;
  for (auto& f : folders) {
    f = Trimmed(f);
    if (!f.empty() && seen.insert(ComparableFolder(f)).second) out.push_back(std::move(f));
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const std::u16string& a, const std::u16string& b) { return Depth(a) > Depth(b); });
  return out;
}

// `folder` lies inside one of `keys` (comparable folders).
bool InsideAnyOf(const std::u16string& folder, const std::unordered_set<std::u16string>& keys) {
  const std::u16string key = ComparableFolder(folder);
  for (size_t slash = key.find(u'\\'); slash != std::u16string::npos; slash = key.find(u'\\', slash + 1))
    if (keys.count(key.substr(0, slash))) return true;
  return false;
}

std::vector<std::u16string> FoldersOfListedFiles(const std::vector<std::u16string>& files) {
  std::vector<std::u16string> folders;
  for (const auto& file : files) {
    const std::u16string path = Trimmed(file);
    for (size_t slash = path.find(u'\\'); slash != std::u16string::npos; slash = path.find(u'\\', slash + 1))
      folders.push_back(path.substr(0, slash));
  }
  return folders;
}

}  // namespace

RemovalPlan PlanRemoval(const SetupState& s, bool complete, bool protectedFolder) {
  RemovalPlan plan;
  plan.emptyFolders = DeepestFirst(s.CreatedFoldersKnown ? s.CreatedFolders : FoldersOfListedFiles(s.InstalledFiles));
  plan.removeInstallDir = s.InstallDirCreated;
  if (!complete || protectedFolder) return plan;
  if (s.InstallDirCreated) {
    plan.kind = RemovalKind::WholeFolder;
    return plan;
  }
  if (!s.CreatedFoldersKnown) return plan;
  plan.kind = RemovalKind::ProductFolders;
  std::unordered_set<std::u16string> keys;
  for (const auto& folder : plan.emptyFolders) keys.insert(ComparableFolder(folder));
  for (const auto& folder : plan.emptyFolders)
    if (!InsideAnyOf(folder, keys)) plan.wholeFolders.push_back(folder);
  return plan;
}

bool ListsInstalledFile(const std::vector<std::u16string>& list, std::u16string_view name) {
  const std::u16string key = ComparableFolder(name);
  return std::any_of(list.begin(), list.end(), [&](const std::u16string& f) { return ComparableFolder(f) == key; });
}

}  // namespace setup
