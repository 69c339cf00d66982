// Writes what GetVersionExW (basic 276-byte structure, as the system check
// asks) returns to this program and how the check classifies it, as one line
// "platform major minor build class|csd" to the file named by its argument. Linked
// with the setup program's manifest, so it sees what the setup program sees.
#include <windows.h>

#include <cstdio>

#include "setup/wizard/os_classification.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  OSVERSIONINFOW info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info)) return 1;
#pragma GCC diagnostic pop
  const char* names[] = {"Unsupported", "Windows95Family", "NtFamily", "Unknown"};
  const setup::OsClass c = setup::ClassifyOs(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
  FILE* out = _wfopen(argv[1], L"w");
  if (!out) return 1;
  std::fprintf(out, "%lu %lu %lu %lu %s|%ls\n", info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion,
                info.dwBuildNumber, names[static_cast<int>(c)], info.szCSDVersion);
  std::fclose(out);
  return 0;
}
