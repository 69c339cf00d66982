#include "setup/wizard/product_record.h"

#include <windows.h>

#include "base/utf16.h"

namespace setup {
namespace {

bool QueryString(HKEY key, const wchar_t* name, size_t limit, std::u16string& out) {
  std::wstring buffer(limit + 1, L'\0');
  DWORD size = static_cast<DWORD>(limit * sizeof(wchar_t));  // room for `limit` characters
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  buffer.resize(size / sizeof(wchar_t));
  while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
  out = vx::FromWide(buffer);
  return true;
}

}  // namespace

bool ReadProductRecord(const std::u16string& productNameEn, ProductRecord& record) {
  const std::wstring path = L"Software\\" + vx::ToWide(productNameEn);
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ProductRecord r;
  const bool ok = QueryString(key, L"InstallPath", 260, r.installPath) &&
                  QueryString(key, L"Version", 40, r.version) && QueryString(key, L"GUID", 40, r.guid);
  RegCloseKey(key);
  if (ok) record = std::move(r);
  return ok;
}

}  // namespace setup
