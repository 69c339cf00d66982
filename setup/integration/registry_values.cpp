#include "setup/integration/registry_values.h"

#include "base/path_join.h"
#include "setup/integration/shortcut_rules.h"

namespace setup {
namespace {

constexpr size_t kRunNameLimit = 254;
constexpr size_t kCommentsCapacity = 800;

std::u16string KeyUnder(std::u16string_view parent, std::u16string_view name) {
  if (name.empty() || name.find(u'\\') != std::u16string_view::npos) return {};
  std::u16string path(parent);
  path += name;
  return path;
}

std::u16string WithoutTrailingBackslash(std::u16string path) {
  if (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

// A command line of one program path: quoted, so that a path with spaces
// cannot be read as a shorter program followed by arguments.
std::u16string Quoted(const std::u16string& path) { return u"\"" + path + u"\""; }

}  // namespace

std::u16string ProductKeyPath(std::u16string_view productNameEn) { return KeyUnder(u"Software\\", productNameEn); }

std::u16string UninstallKeyPath(std::u16string_view productName) {
  return KeyUnder(u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\", productName);
}

std::u16string RunValueName(std::u16string_view program) {
  const size_t slash = program.rfind(u'\\');
  std::u16string_view name = slash == std::u16string_view::npos ? program : program.substr(slash + 1);
  const size_t dot = name.find(u'.');
  if (dot != std::u16string_view::npos) name = name.substr(0, dot);
  if (name.size() > kRunNameLimit) name = name.substr(0, kRunNameLimit);
  return std::u16string(name);
}

std::vector<RegistryValue> ProductKeyValues(const SetupState& s) {
  const package::PackageHeader& h = s.header;
  return {{u"InstallPath", WithoutTrailingBackslash(s.InstallDir)},
          {u"Exe", s.InstallDir + h.MainExe},
          {u"Version", h.VersionLabel},
          {u"GUID", h.ProductID}};
}

std::vector<RegistryValue> UninstallEntryValues(const SetupState& s, std::u16string_view welcome) {
  const package::PackageHeader& h = s.header;
  std::u16string comments(welcome);
  comments += s.ProductName;
  if (comments.size() > kCommentsCapacity - 1) comments.resize(kCommentsCapacity - 1);
  return {{u"DisplayName", s.ProductName + u" " + h.VersionLabel},
          {u"UninstallString", Quoted(s.InstallDir + u"uninstall.exe")},
          {u"DisplayIcon", s.InstallDir + h.MainExe},
          {u"Publisher", h.Publisher},
          {u"URLInfoAbout", h.URLInfoAbout},
          {u"DisplayVersion", h.DisplayVersion},
          {u"Contact", h.Contact},
          {u"HelpLink", h.HelpLink},
          {u"HelpTelephone", h.HelpTelephone},
          {u"Readme", u"file://" + s.InstallDir + h.ReadmeFile},
          {u"URLUpdateInfo", h.URLUpdateInfo},
          {u"ProductID", h.ProductID},
          {u"Comments", comments}};
}

RunForm ChooseRunForm(const package::PackageHeader& h) {
  if (h.NoAutostart != 0 && h.ServerPackage == 0) return RunForm::None;
  if (h.ServerPackage != 0 || h.AutostartPrograms.empty()) return RunForm::MainExe;
  return RunForm::List;
}

std::vector<RegistryValue> RunValues(const SetupState& s, RunForm form) {
  const package::PackageHeader& h = s.header;
  std::vector<RegistryValue> values;
  if (form == RunForm::MainExe) values.push_back({RunValueName(h.MainExe), Quoted(s.InstallDir + h.MainExe)});
  if (form == RunForm::List)
    for (const auto& program : h.AutostartPrograms)
      values.push_back({RunValueName(program), Quoted(s.InstallDir + program)});
  return values;
}

std::vector<RegistryValue> RunValuesToRemove(const SetupState& s) {
  const package::PackageHeader& h = s.header;
  const std::u16string folder = WithoutTrailingBackslash(s.InstallDir);
  std::vector<RegistryValue> values = {{RunValueName(h.MainExe), vx::JoinPath(folder, h.MainExe)}};
  for (const auto& program : h.AutostartPrograms)
    values.push_back({RunValueName(program), vx::JoinPath(folder, program)});
  return values;
}

bool IsOwnRunData(std::u16string_view stored, std::u16string_view written) {
  // Written quoted; records of earlier installs hold the bare path.
  if (stored.size() >= 2 && stored.front() == u'"' && stored.back() == u'"') stored = stored.substr(1, stored.size() - 2);
  return SameFileName(stored, written);
}

}  // namespace setup
