// Stand-in of the outside printer installer library: its export records the
// three arguments it was called with under HKLM\Software\VcStandins\VirtualPrinter
// (values Printer, Driver, Folder, as ANSI text widened) and returns 1.
#include <windows.h>

#include <string>

#include "tools/standins/standin_record.h"

namespace {

std::wstring Widen(const char* ansi) {
  if (!ansi) return L"(null)";
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, ansi, -1, &w[0], n);
  return w;
}

}  // namespace

extern "C" __declspec(dllexport) unsigned char __cdecl qrInstallVPrinter(const char* printer, const char* driver,
                                                                       const char* folder) {
  standins::Record(L"VirtualPrinter", L"Printer", Widen(printer));
  standins::Record(L"VirtualPrinter", L"Driver", Widen(driver));
  standins::Record(L"VirtualPrinter", L"Folder", Widen(folder));
  return 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
