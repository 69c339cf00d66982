#include "setup/integration/component_registration.h"

#include <windows.h>
#include <objbase.h>

#include <cwchar>

#include "base/utf16.h"
#include "setup/integration/system_folder.h"

namespace setup {
namespace {

constexpr const wchar_t* kGrabberClsid = kSampleGrabberClsid;
constexpr const wchar_t* kFilterCategory = kDirectShowFilterCategory;

std::wstring InstallFile(const SetupState& s, const std::wstring& name) { return vx::ToWide(s.InstallDir) + name; }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        DWORD((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Creates `path` under HKEY_CLASSES_ROOT and lets `write` set its values.
template <class F>
bool WriteKey(const std::wstring& path, F&& write) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const bool ok = write(key);
  RegCloseKey(key);
  return ok;
}

void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutTag(std::vector<uint8_t>& d, size_t at, const char* tag) {
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(tag[i]);
}

}  // namespace

bool SelfRegister(const std::wstring& path) {
  const HMODULE module = LoadLibraryW(path.c_str());
  if (reinterpret_cast<uintptr_t>(module) <= 31) return false;
  using Entry = HRESULT(__stdcall*)();
  const auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  if (!entry) {
    FreeLibrary(module);
    return false;
  }
  const HRESULT r = entry();
  FreeLibrary(module);
  return r >= 0;
}

bool CopyAndRegister(const SetupState& s, const std::wstring& name) {
  const std::wstring system = SystemFolder(s);
  if (system.empty()) return false;
  const std::wstring target = system + L"\\" + name;
  if (!CopyFileW(InstallFile(s, name).c_str(), target.c_str(), FALSE)) return false;
  return SelfRegister(target);
}

bool MoveAndRegister(const SetupState& s, const std::wstring& name) {
  const HRESULT com = CoInitialize(nullptr);
  bool ok = false;
  const std::wstring system = SystemFolder(s);
  if (!system.empty()) {
    const std::wstring target = system + L"\\" + name;
    const bool present = Exists(target);
    const bool moved = !present && MoveFileW(InstallFile(s, name).c_str(), target.c_str());
    if (present || moved) ok = SelfRegister(target);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return ok;
}

std::vector<uint8_t> SampleGrabberFilterData() {
  std::vector<uint8_t> d(112, 0);
  Put32(d, 0, 2);
  Put32(d, 4, 0x00200000);
  Put32(d, 8, 2);
  PutTag(d, 16, "0pi3");
  Put32(d, 28, 1);
  PutTag(d, 40, "0ty3");
  Put32(d, 48, 0x60);
  Put32(d, 52, 0x60);
  PutTag(d, 56, "1pi3");
  Put32(d, 60, 8);
  Put32(d, 68, 1);
  PutTag(d, 80, "0ty3");
  Put32(d, 88, 0x60);
  Put32(d, 92, 0x60);
  return d;
}

bool RegisterSampleGrabber(const SetupState& s) {
  const std::wstring system = SystemFolder(s);
  if (system.empty()) return false;
  const std::wstring source = InstallFile(s, L"qedit.dll");
  const std::wstring target = system + L"\\qedit.dll";
  // A carried copy already deleted by an earlier call leaves nothing to do.
  const bool placed = _waccess(target.c_str(), 0) != 0 ? MoveFileW(source.c_str(), target.c_str())
                                                        : !Exists(source) || DeleteFileW(source.c_str());
  if (!placed) return false;

  const std::wstring clsid = std::wstring(L"CLSID\\") + kGrabberClsid;
  if (!WriteKey(clsid, [](HKEY k) { return SetString(k, nullptr, L"Sample Grabber"); })) return false;
  // The server key alone may fail without stopping the filter registration.
  HKEY server;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (clsid + L"\\InprocServer32").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                      &server, nullptr) == ERROR_SUCCESS) {
    const bool ok = SetString(server, nullptr, target) && SetString(server, L"ThreadingModel", L"Both");
    RegCloseKey(server);
    if (!ok) return false;
  }
  const std::wstring instance = std::wstring(L"CLSID\\") + kFilterCategory + L"\\Instance\\" + kGrabberClsid;
  return WriteKey(instance, [](HKEY k) {
    const std::vector<uint8_t> data = SampleGrabberFilterData();
    return SetString(k, L"CLSID", kGrabberClsid) &&
           RegSetValueExW(k, L"FilterData", 0, REG_BINARY, data.data(), DWORD(data.size())) == ERROR_SUCCESS &&
           SetString(k, L"FriendlyName", L"SampleGrabber");
  });
}

bool SetLanguageIni(const SetupState& s) {
  const std::wstring path = InstallFile(s, L"language.ini");
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  wchar_t current[21] = {};
  GetPrivateProfileStringW(L"language", L"type", L"gb", current, 21, path.c_str());
  const wchar_t* code = s.Language == kChineseSimplified    ? L"gb"
                        : s.Language == kChineseTraditional ? L"big"
                        : s.Language == kJapanese           ? L"jp"
                                                            : L"en";
  if (std::wcscmp(current, code) != 0) WritePrivateProfileStringW(L"language", L"type", code, path.c_str());
  return true;
}

}  // namespace setup
