// Drives a setup package silently: starts it with "-d", receives its status
// codes over WM_COPYDATA and prints them, one line each, as UTF-8.
//
//   setup_controller [--times] <package.exe> [-en|-gb|-big|-jp] [destination]
//
// --times prefixes each line with the milliseconds since the controller
// started and adds the lines "started" (the package's process is created)
// and "exit" (it has ended).
//
// Exit code: 0 the install completed without a failure code, 1 a failure
// code was reported, 2 the install ended without "Completed", 3 the package
// could not be started.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/utf16.h"

namespace {

constexpr ULONG_PTR kCompleted = 0;
bool g_completed = false;
bool g_failed = false;
bool g_times = false;
LARGE_INTEGER g_start, g_frequency;

// Lines are kept and written in batches: when 64 KiB are waiting, when no
// report has come for 100 ms, and at the end.
std::string g_pending;
constexpr size_t kBatch = 64 << 10;
constexpr DWORD kQuietMs = 100;

void Flush() {
  DWORD written = 0;
  if (!g_pending.empty())
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), g_pending.data(), DWORD(g_pending.size()), &written, nullptr);
  g_pending.clear();
}

void WriteOut(const std::string& line) {
  if (g_times) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9.1f ", double(now.QuadPart - g_start.QuadPart) * 1000.0 / double(g_frequency.QuadPart));
    g_pending += stamp;
  }
  g_pending += line;
  if (g_pending.size() >= kBatch) Flush();
}

LRESULT CALLBACK Receive(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message != WM_COPYDATA) return DefWindowProcW(window, message, w, l);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(l);
  std::u16string text;
  if (data->lpData && data->cbData >= 2)
    text.assign(static_cast<const char16_t*>(data->lpData), data->cbData / 2 - 1);
  char code[16];
  std::snprintf(code, sizeof code, "0x%05lX ", static_cast<unsigned long>(data->dwData));
  WriteOut(code + vx::Utf16ToUtf8(text) + "\n");
  if (data->dwData == kCompleted) g_completed = true;
  if ((data->dwData & 0xFF00) == 0x0100) g_failed = true;
  return TRUE;
}

// Quoted for the package's argument vector: "C:\" stays C:\.
std::wstring Quote(const std::wstring& s) { return vx::ToWide(vx::QuoteArgument(vx::FromWide(s))); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  QueryPerformanceFrequency(&g_frequency);
  QueryPerformanceCounter(&g_start);
  if (argc >= 2 && std::wstring(argv[1]) == L"--times") {
    g_times = true;
    --argc;
    ++argv;
  }
  if (argc < 2 || argc > 4) {
    std::fputs("usage: setup_controller [--times] <package.exe> [-en|-gb|-big|-jp] [destination]\n", stderr);
    return 3;
  }
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Receive;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"SetupController";
  RegisterClassW(&wc);
  const HWND window =
      CreateWindowW(L"SetupController", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (!window) return 3;

  // setup.exe -d 0 <window> [language] [destination]
  const std::wstring package = argv[1];
  // A window handle has 32 significant bits, whatever the program's width.
  std::wstring parameters = L"-d 0 " + std::to_wstring(uint32_t(reinterpret_cast<uintptr_t>(window)));
  if (argc >= 3) parameters += L" " + Quote(argv[2]);
  if (argc >= 4) parameters += L" " + Quote(argv[3]);

  // Through the shell, not CreateProcess: the package's manifest asks for
  // administrator rights, so under UAC the shell shows the elevation prompt
  // where CreateProcess fails with ERROR_ELEVATION_REQUIRED. The elevated
  // package may still send to this window (a higher integrity level may send
  // to a lower one).
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);  // for the shell
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = package.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info) || !info.hProcess) {
    const DWORD error = GetLastError();
    if (info.hProcess) CloseHandle(info.hProcess);
    std::fprintf(stderr, "setup_controller: cannot start the package (error %lu)\n", error);
    return 3;
  }
  const HANDLE process = info.hProcess;
  if (g_times) WriteOut("started\n");
  // Status codes arrive as sent messages while waiting.
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(1, &process, FALSE, g_pending.empty() ? INFINITE : kQuietMs,
                                              QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) break;
    if (r == WAIT_TIMEOUT) Flush();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  CloseHandle(process);
  DestroyWindow(window);
  if (g_times) WriteOut("exit\n");
  Flush();
  if (g_failed) return 1;
  return g_completed ? 0 : 2;
}
