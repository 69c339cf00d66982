#include <windows.h>

#include "setup/instance_data.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  if (setup::HeaderOffset() == 0) return -1;  // no package attached
  return 0;
}
