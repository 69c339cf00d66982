#include "setup/startup/win_header_environment.h"
#include "setup/wizard/online_client.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include "base/path_join.h"
#include "base/utf16.h"
#include "setup/startup/instance_data.h"

namespace setup {
namespace {

std::u16string SpecialFolder(int csidl) {
  LPITEMIDLIST pidl = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &pidl)) || !pidl) return {};
  wchar_t path[MAX_PATH] = {};
  const BOOL ok = SHGetPathFromIDListW(pidl, path);
  CoTaskMemFree(pidl);
  return ok ? vx::FromWide(path) : std::u16string();
}

}  // namespace

std::u16string WinHeaderEnvironment::ProgramFilesBase(bool allUsers) {
  if (allUsers) return SpecialFolder(CSIDL_PROGRAM_FILES);
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", 0,
                    KEY_READ, &key) != ERROR_SUCCESS)
    return {};
  wchar_t value[130] = {};  // at most 260 bytes
  DWORD size = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  const LONG r = RegQueryValueExW(key, L"ProgramFilesDir", nullptr, &type,
                                  reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_SZ) return {};
  return vx::FromWide(value);
}

bool WinHeaderEnvironment::ProgramsFolder(bool allUsers, std::u16string& folder) {
  folder = SpecialFolder(allUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS);
  return !folder.empty();
}

bool WinHeaderEnvironment::SubFolders(const std::u16string& folder, std::vector<std::u16string>& names) {
  const std::wstring pattern = vx::ToWide(folder) + L"*";
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::wstring name = data.cFileName;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
      names.push_back(vx::FromWide(name));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

void WinHeaderEnvironment::RegisterAddressControl() {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&icc);
}

std::u16string OwnModulePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return vx::FromWide(path);
}

bool ReadPackageHeader() {
  const std::wstring path = vx::ToWide(OwnModulePath());
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file) {
    MessageBoxW(nullptr, L"open file false!", path.c_str(), MB_OK);
    return false;
  }
  if (fseek(file, static_cast<long>(HeaderOffset()), SEEK_SET) != 0) {
    fclose(file);
    return false;
  }
  CFileSource source(file);
  WinHeaderEnvironment env;
  const bool ok = LoadPackageHeader(source, HeaderOffset(), State(), env);
  fclose(file);
  if (ok && State().header.OnlineInstall != 0) CreateOnlineClient();
  return ok;
}

}  // namespace setup
