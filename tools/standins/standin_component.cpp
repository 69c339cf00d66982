// A self-registering component for tests and the sample product. It records
// its registration as a value named after its own file name under
// HKLM\Software\VcStandins\Registered (data: its full path) and removes the
// value again when unregistered. Built in three variants:
//   STANDIN_FAILS      DllRegisterServer fails with E_FAIL and records nothing
//   STANDIN_NO_EXPORT  no DllRegisterServer / DllUnregisterServer at all
#include <windows.h>

#include "tools/standins/standin_record.h"

#ifndef STANDIN_NO_EXPORT
namespace {
int g_anchor;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
#ifdef STANDIN_FAILS
  standins::Record(L"Failed", standins::ModuleName(&g_anchor), L"DllRegisterServer");
  return E_FAIL;
#else
  std::wstring path;
  const std::wstring name = standins::ModuleName(&g_anchor, &path);
  standins::Record(L"Registered", name, path);
  return S_OK;
#endif
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() {
  const std::wstring name = standins::ModuleName(&g_anchor);
  standins::Forget(L"Registered", name);
  standins::Record(L"Unregistered", name, L"DllUnregisterServer");
  return S_OK;
}
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
