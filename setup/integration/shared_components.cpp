#include "setup/integration/shared_components.h"

#include <windows.h>
#include <winspool.h>

#include <optional>

#include "base/utf16.h"
#include "setup/install/folder_safety.h"
#include "setup/integration/component_rules.h"
#include "setup/integration/registry_values.h"
#include "setup/integration/spooler_cleanup.h"

namespace setup {
namespace {

constexpr wchar_t kSharedDlls[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr wchar_t kCountedValue[] = L"SharedFiles";

std::optional<uint32_t> ReadCount(HKEY key, const std::wstring& path) {
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExW(key, path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    return std::nullopt;
  return value;
}

bool WriteCount(HKEY key, const std::wstring& path, uint32_t count) {
  const DWORD value = count;
  return RegSetValueExW(key, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

// The product key's list of counted paths (REG_MULTI_SZ).
std::vector<std::u16string> ReadCounted(HKEY product) {
  DWORD type = 0, size = 0;
  std::vector<std::u16string> list;
  if (RegQueryValueExW(product, kCountedValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ || size > 1 << 20)
    return list;
  std::wstring data(size / sizeof(wchar_t) + 2, L'\0');
  if (RegQueryValueExW(product, kCountedValue, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
      ERROR_SUCCESS)
    return list;
  for (size_t at = 0; at < data.size() && data[at] != L'\0';) {
    const size_t end = data.find(L'\0', at);
    list.push_back(vx::FromWide(data.substr(at, end - at)));
    at = end + 1;
  }
  return list;
}

bool WriteCounted(HKEY product, const std::vector<std::u16string>& list) {
  std::wstring data;
  for (const auto& path : list) data += vx::ToWide(path) + L'\0';
  data += L'\0';
  return RegSetValueExW(product, kCountedValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                        DWORD(data.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool PrinterInPlace() {
  HANDLE handle = nullptr;
  if (!OpenPrinterW(const_cast<wchar_t*>(kDocumentPrinter), &handle, nullptr)) return false;
  ClosePrinter(handle);
  return true;
}

bool InPlace(const std::u16string& path, const std::u16string& printer) {
  if (!printer.empty() && ComparableFolder(path) == ComparableFolder(printer)) return PrinterInPlace();
  return GetFileAttributesW(vx::ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

std::u16string PrinterCountPath() {
  wchar_t path[MAX_PATH] = {};
  DWORD needed = 0;
  if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(path), sizeof path, &needed) ||
      path[0] == 0)
    return {};
  return vx::FromWide(path) + u"\\vprinter.dll";
}

void CountSharedComponents(const SetupState& s, const std::vector<std::u16string>& paths) {
  const std::u16string productPath = ProductKeyPath(s.header.ProductNameEn);
  if (productPath.empty()) return;  // nowhere to list the uses: none taken
  HKEY product, counts;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, vx::ToWide(productPath).c_str(), 0, nullptr, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &product, nullptr) != ERROR_SUCCESS)
    return;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                      &counts, nullptr) == ERROR_SUCCESS) {
    const std::u16string printer = PrinterCountPath();
    std::vector<std::u16string> counted = ReadCounted(product);
    const size_t before = counted.size();
    for (const auto& path : paths) {
      if (path.empty()) continue;
      const size_t n = counted.size();
      AddPathOnce(counted, path);
      if (counted.size() == n) continue;  // this product's use is counted already
      const std::wstring name = vx::ToWide(path);
      if (!WriteCount(counts, name, SharedCountAfterInstall(ReadCount(counts, name), InPlace(path, printer))))
        counted.pop_back();
    }
    if (counted.size() != before) WriteCounted(product, counted);
    RegCloseKey(counts);
  }
  RegCloseKey(product);
}

std::vector<std::u16string> ReleaseSharedComponents(const SetupState& s) {
  std::vector<std::u16string> last;
  const std::u16string productPath = ProductKeyPath(s.header.ProductNameEn);
  HKEY product, counts;
  if (productPath.empty() || RegOpenKeyExW(HKEY_LOCAL_MACHINE, vx::ToWide(productPath).c_str(), 0,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE, &product) != ERROR_SUCCESS)
    return last;
  const std::vector<std::u16string> counted = ReadCounted(product);
  if (!counted.empty() &&
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &counts) == ERROR_SUCCESS) {
    for (const auto& path : counted) {
      const std::wstring name = vx::ToWide(path);
      const SharedRelease release = SharedCountAfterUninstall(ReadCount(counts, name));
      if (release.count)
        WriteCount(counts, name, *release.count);
      else if (release.lastUser)
        RegDeleteValueW(counts, name.c_str());
      if (release.lastUser) last.push_back(path);
    }
    RegCloseKey(counts);
  }
  RegDeleteValueW(product, kCountedValue);  // given back once only
  RegCloseKey(product);
  return last;
}

}  // namespace setup
