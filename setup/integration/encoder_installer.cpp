#include "setup/integration/encoder_installer.h"

#include <windows.h>
#include <shellapi.h>

namespace setup {

bool RunEncoderInstaller(const std::wstring& folder, unsigned limitMs) {
  std::wstring path = folder;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  path += L"WMEncoder_cn.exe";
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"open";
  info.lpFile = path.c_str();
  info.lpParameters = L"/Q";
  info.nShow = SW_HIDE;
  if (!ShellExecuteExW(&info) || !info.hProcess) return false;
  const bool ended = WaitForSingleObject(info.hProcess, limitMs) == WAIT_OBJECT_0;
  CloseHandle(info.hProcess);
  return ended;
}

}  // namespace setup
