#include "setup/startup/relaunch.h"

#include <windows.h>

#include <cwchar>

#include "base/utf16.h"
#include "setup/startup/relaunch_rules.h"
#include "setup/startup/win_header_environment.h"

namespace setup {
namespace {

// A new unique "zz~" file in the temporary folder; empty on failure.
std::wstring NewTemporaryFile(std::wstring& tempFolder) {
  wchar_t folder[MAX_PATH] = {};
  if (!GetTempPathW(MAX_PATH, folder)) return {};
  wchar_t file[MAX_PATH] = {};
  if (!GetTempFileNameW(folder, L"zz~", 0, file)) return {};
  tempFolder = folder;
  return file;
}

// Starts `program` (also its application name, so no other file is taken
// for it) with RelaunchCommandLine in `folder`; returns the process
// information (handles left open for the caller) or false. A copy just
// written may be held for a moment (a virus scanner reading it) or fail in
// its first steps, so a failed start is tried twice more.
bool Start(const std::wstring& program, const std::wstring& argument, const std::wstring& folder,
           PROCESS_INFORMATION& pi) {
  std::wstring commandLine = vx::ToWide(RelaunchCommandLine(vx::FromWide(program), vx::FromWide(argument)));
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;  // 68 bytes
  for (int attempt = 1;; ++attempt) {
    ZeroMemory(&pi, sizeof pi);
    if (CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &si,
                       &pi))
      return true;
    if (attempt == 3) return false;
    Sleep(500);
  }
}

}  // namespace

void ScheduleOwnDeletion() {
  wchar_t temp[MAX_PATH] = {};
  if (!GetTempPathW(MAX_PATH, temp)) return;
  const std::u16string self = OwnModulePath();
  if (!IsTemporaryCopy(self, vx::FromWide(temp))) return;
  MoveFileExW(vx::ToWide(self).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

bool RelaunchFromTemporaryCopy(unsigned delayMs) {
  const std::wstring self = vx::ToWide(OwnModulePath());
  const size_t slash = self.find_last_of(L'\\');
  if (slash == std::wstring::npos) return false;
  const std::wstring ownFolder = self.substr(0, slash);
  std::wstring tempFolder;
  const std::wstring copy = NewTemporaryFile(tempFolder);
  if (copy.empty() || !CopyFileW(self.c_str(), copy.c_str(), FALSE)) return false;
  if (delayMs) Sleep(delayMs);
  PROCESS_INFORMATION pi;
  return Start(copy, ownFolder, tempFolder, pi);  // neither waited for nor closed
}

void RunPreviousUninstaller(const std::u16string& previousDir) {
  const std::wstring dir = vx::ToWide(previousDir);
  const std::wstring uninstaller = dir + L"\\uninstall.exe";
  std::wstring tempFolder;
  const std::wstring copy = NewTemporaryFile(tempFolder);
  if (copy.empty() || !CopyFileW(uninstaller.c_str(), copy.c_str(), FALSE)) return;
  PROCESS_INFORMATION pi;
  if (!Start(copy, dir, tempFolder, pi)) return;
  if (pi.hThread) WaitForSingleObject(pi.hThread, INFINITE);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

}  // namespace setup
