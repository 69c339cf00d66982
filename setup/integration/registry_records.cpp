#include "setup/integration/registry_records.h"

#include <windows.h>

#include "base/utf16.h"
#include "setup/integration/integration_steps.h"
#include "setup/integration/spooler_cleanup.h"
#include "setup/wizard/localized_text.h"

namespace setup {
namespace {

constexpr uint16_t kWelcomeText = 494;
constexpr int kCommentsCapacity = 800;

bool SetString(HKEY key, const RegistryValue& v) {
  const std::wstring name = vx::ToWide(v.name), data = vx::ToWide(v.data);
  return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        DWORD((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Creates `path` and writes `values` in order, stopping at the first failure.
bool WriteKey(const std::u16string& path, const std::vector<RegistryValue>& values) {
  if (path.empty()) return false;
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, vx::ToWide(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = true;
  for (const auto& v : values)
    if (!(ok = SetString(key, v))) break;
  RegCloseKey(key);
  return ok;
}

// A key that is not there counts as deleted.
bool DeleteKey(const std::u16string& path) {
  if (path.empty()) return false;
  const LONG r = RegDeleteKeyW(HKEY_LOCAL_MACHINE, vx::ToWide(path).c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

bool ReadString(HKEY key, const std::u16string& name, std::u16string& out) {
  const std::wstring n = vx::ToWide(name);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, n.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key, n.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS)
    return false;
  data.resize(size / sizeof(wchar_t));
  while (!data.empty() && data.back() == L'\0') data.pop_back();
  out = vx::FromWide(data);
  return true;
}

// Deletes the Run values this install wrote; another program's value of the
// same name stays. False only when the Run key does not open.
bool RemoveRunValues(const SetupState& s) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, vx::ToWide(kRunKey).c_str(), 0, KEY_SET_VALUE | KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS)
    return false;
  for (const auto& v : RunValuesToRemove(s)) {
    std::u16string stored;
    if (v.name.empty() || !ReadString(key, v.name, stored) || !IsOwnRunData(stored, v.data)) continue;
    RegDeleteValueW(key, vx::ToWide(v.name).c_str());
  }
  RegCloseKey(key);
  return true;
}

}  // namespace

bool WriteProductKey(const SetupState& s) {
  return WriteKey(ProductKeyPath(s.header.ProductNameEn), ProductKeyValues(s));
}

bool WriteUninstallEntry(const SetupState& s) {
  return WriteKey(UninstallKeyPath(s.ProductName), UninstallEntryValues(s, LoadText(kWelcomeText, kCommentsCapacity)));
}

bool WriteRunEntries(const SetupState& s, RunForm form) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, vx::ToWide(kRunKey).c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS)
    return false;
  bool ok = true;
  for (const auto& v : RunValues(s, form))
    if (v.name.empty() || !SetString(key, v)) ok = false;  // an empty name would be the key's default value
  RegCloseKey(key);
  return ok;
}

bool RunRegistryGroup(SetupState& s, bool withRunEntries) {
  bool ok = true;
  StopService(kSpoolerService);
  if (!RemovePrinter(kDocumentPrinter)) ok = false;
  StartServiceAndWait(kSpoolerService);
  if (!WriteProductKey(s)) ok = false;
  if (!WriteUninstallEntry(s)) ok = false;
  const RunForm form = ChooseRunForm(s.header);
  if (withRunEntries && form != RunForm::None && !WriteRunEntries(s, form)) ok = false;
  return ok;
}

bool RemoveRegistryRecords(SetupState& s) {
  bool ok = DeleteKey(ProductKeyPath(s.header.ProductNameEn));
  if (!DeleteKey(UninstallKeyPath(s.ProductName))) ok = false;
  if (!RemoveRunValues(s)) ok = false;
  // The associations of the install's component kind (from the record; an
  // older record has none: kind 0).
  if (s.ComponentKind != 0 && !RemoveComponentAssociations(s)) ok = false;
  return ok;
}

}  // namespace setup
