// Import entries the MinGW runtime asks of KERNEL32 that Windows XP and
// Server 2003 do not export. Defining the import pointer here makes the link
// take it instead of the import library's entry, so the loader never looks
// for the function; the real one is looked up at run time where it exists.
//
// Linked into the setup program as an object of its own (not through an
// archive), ahead of the runtime libraries that refer to it.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "setup/tick_count.h"

namespace {

using TickCount64Fn = ULONGLONG(WINAPI*)();

TickCount64Fn RealGetTickCount64() {
  static std::atomic<TickCount64Fn> real{nullptr};
  static std::atomic<bool> looked{false};
  if (!looked.load(std::memory_order_acquire)) {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel ? GetProcAddress(kernel, "GetTickCount64") : nullptr;
    real.store(reinterpret_cast<TickCount64Fn>(reinterpret_cast<void*>(found)), std::memory_order_release);
    looked.store(true, std::memory_order_release);
  }
  return real.load(std::memory_order_acquire);
}

// Vista and later: the system's count; XP: GetTickCount carried over its wraps.
ULONGLONG WINAPI VcGetTickCount64() {
  if (const TickCount64Fn fn = RealGetTickCount64()) return fn();
  static std::atomic<uint64_t> state{0};
  return setup::ExtendTickCount(state, [] { return static_cast<uint32_t>(GetTickCount()); });
}

}  // namespace

// The import pointer that calls through `__declspec(dllimport) GetTickCount64`
// read (libwinpthread's clock code), and the plain symbol for calls compiled
// without the import declaration.
extern "C" {
extern TickCount64Fn const vc_imp_GetTickCount64 __asm__("__imp__GetTickCount64@0");
TickCount64Fn const vc_imp_GetTickCount64 = VcGetTickCount64;
ULONGLONG WINAPI vc_GetTickCount64() __asm__("_GetTickCount64@0");
ULONGLONG WINAPI vc_GetTickCount64() { return VcGetTickCount64(); }
}
