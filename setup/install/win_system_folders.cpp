#include "setup/install/win_system_folders.h"

#include <windows.h>
#include <shlobj.h>

#include "base/utf16.h"

namespace setup {

std::vector<std::u16string> SystemFolders() {
  std::vector<std::u16string> out;
  wchar_t path[MAX_PATH];
  if (GetWindowsDirectoryW(path, MAX_PATH)) out.push_back(vx::FromWide(path));
  if (GetSystemDirectoryW(path, MAX_PATH)) out.push_back(vx::FromWide(path));
  for (int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86})
    if (SHGetFolderPathW(nullptr, csidl, nullptr, 0, path) == S_OK) out.push_back(vx::FromWide(path));
  return out;
}

std::vector<std::u16string> ProtectedFolders() {
  std::vector<std::u16string> out = SystemFolders();
  static const int kSpecial[] = {
      CSIDL_DESKTOPDIRECTORY, CSIDL_PROGRAMS, CSIDL_PERSONAL, CSIDL_FAVORITES, CSIDL_STARTUP, CSIDL_RECENT,
      CSIDL_SENDTO, CSIDL_STARTMENU, CSIDL_MYMUSIC, CSIDL_MYVIDEO, CSIDL_NETHOOD, CSIDL_FONTS, CSIDL_TEMPLATES,
      CSIDL_COMMON_STARTMENU, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTUP, CSIDL_COMMON_DESKTOPDIRECTORY,
      CSIDL_APPDATA, CSIDL_PRINTHOOD, CSIDL_LOCAL_APPDATA, CSIDL_COMMON_FAVORITES, CSIDL_INTERNET_CACHE,
      CSIDL_COOKIES, CSIDL_HISTORY, CSIDL_COMMON_APPDATA, CSIDL_PROGRAM_FILES, CSIDL_MYPICTURES, CSIDL_PROFILE,
      CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_TEMPLATES,
      CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_ADMINTOOLS, CSIDL_ADMINTOOLS, CSIDL_COMMON_MUSIC, CSIDL_COMMON_PICTURES,
      CSIDL_COMMON_VIDEO, CSIDL_RESOURCES, CSIDL_CDBURN_AREA};
  wchar_t path[MAX_PATH];
  for (int csidl : kSpecial)
    if (SHGetFolderPathW(nullptr, csidl, nullptr, 0, path) == S_OK && path[0]) out.push_back(vx::FromWide(path));
  if (GetTempPathW(MAX_PATH, path)) out.push_back(vx::FromWide(path));
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    for (const wchar_t* name : {L"ProgramFilesDir", L"ProgramFilesDir (x86)", L"CommonFilesDir"}) {
      DWORD type = 0, bytes = sizeof path - sizeof(wchar_t);
      ZeroMemory(path, sizeof path);
      if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes) == ERROR_SUCCESS &&
          (type == REG_SZ || type == REG_EXPAND_SZ) && path[0])
        out.push_back(vx::FromWide(path));
    }
    RegCloseKey(key);
  }
  return out;
}

}  // namespace setup
