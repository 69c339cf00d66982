// Stand-in of the outside encoder installer: records its command line under
// HKLM\Software\VcStandins\Encoder (value CommandLine) and exits 0. Built with
// STANDIN_NEVER_EXITS it records and then waits forever (for time limits).
#include <windows.h>

#include "tools/standins/standin_record.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  standins::Record(L"Encoder", L"CommandLine", GetCommandLineW());
#ifdef STANDIN_NEVER_EXITS
  Sleep(INFINITE);
#endif
  return 0;
}
