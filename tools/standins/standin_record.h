#pragma once
// Where the stand-in components record what was done to them, so that tests
// and `reg query` can see it: HKEY_LOCAL_MACHINE\Software\VcStandins\<area>.
#include <windows.h>

#include <string>

namespace standins {

inline void Record(const wchar_t* area, const std::wstring& name, const std::wstring& value) {
  HKEY key;
  const std::wstring path = std::wstring(L"Software\\VcStandins\\") + area;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != 0)
    return;
  RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 DWORD((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

inline void Forget(const wchar_t* area, const std::wstring& name) {
  HKEY key;
  const std::wstring path = std::wstring(L"Software\\VcStandins\\") + area;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != 0) return;
  RegDeleteValueW(key, name.c_str());
  RegCloseKey(key);
}

// The file name of the module holding `address`.
inline std::wstring ModuleName(const void* address, std::wstring* fullPath = nullptr) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(address), &module);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  if (fullPath) *fullPath = path;
  const wchar_t* slash = wcsrchr(path, L'\\');
  return slash ? slash + 1 : path;
}

}  // namespace standins
