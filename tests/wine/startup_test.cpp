#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L'\\') + 1);
}

// Starts a program and waits for it; returns its exit code, or -2 when it
// cannot be started.
long RunAndWait(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &si, &pi))
    return -2;
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<long>(code);
}

}  // namespace

TEST(Startup, NoPackageAttachedExitsMinusOne) {
  const std::wstring setup = ProgramFolder() + L"setup.exe";
  ASSERT_NE(GetFileAttributesW(setup.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(RunAndWait(setup, L""), -1);
  EXPECT_EQ(RunAndWait(setup, L"-d 0 123"), -1);
}
