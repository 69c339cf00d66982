#include "setup/integration/system_folder.h"

#include <windows.h>
#include <shlobj.h>

namespace setup {

std::wstring SystemFolder(const SetupState& s) {
  if (s.AllUsers) {
    LPITEMIDLIST list = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, CSIDL_SYSTEM, &list) != S_OK || !list) return {};
    wchar_t path[MAX_PATH] = {};
    const BOOL ok = SHGetPathFromIDListW(list, path);
    CoTaskMemFree(list);
    return ok ? std::wstring(path) : std::wstring();
  }
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key) != 0)
    return {};
  wchar_t root[130] = {};
  DWORD size = sizeof root - sizeof(wchar_t), type = 0;
  const LONG r = RegQueryValueExW(key, L"SystemRoot", nullptr, &type, reinterpret_cast<BYTE*>(root), &size);
  RegCloseKey(key);
  if (r != 0 || type != REG_SZ || !root[0]) return {};
  return std::wstring(root) + L"\\system";
}

}  // namespace setup
