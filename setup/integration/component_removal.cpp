// What the uninstaller undoes of the component group: the system-folder
// components and the document printer once no product of the family uses
// them, and the private spool folder setting.
#include <windows.h>
#include <objbase.h>

#include <vector>

#include "base/utf16.h"
#include "setup/install/folder_safety.h"
#include "setup/integration/associations.h"
#include "setup/integration/component_registration.h"
#include "setup/integration/component_rules.h"
#include "setup/integration/integration_steps.h"
#include "setup/integration/shared_components.h"
#include "setup/integration/spooler_cleanup.h"
#include "setup/integration/system_folder.h"
#include "setup/integration/virtual_printer.h"

namespace setup {
namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool ClassKeyExists(const std::wstring& path) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool SameText(const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

std::wstring FileName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring GrabberKey() { return std::wstring(L"CLSID\\") + kSampleGrabberClsid; }
std::wstring GrabberFilterKey() {
  return std::wstring(L"CLSID\\") + kDirectShowFilterCategory + L"\\Instance\\" + kSampleGrabberClsid;
}

// The Sample Grabber keys, while their server is still `path` (the file the
// install placed), and then the file.
bool RemoveSampleGrabber(const std::wstring& path) {
  HKEY key;
  bool ours = false;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (GrabberKey() + L"\\InprocServer32").c_str(), 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    wchar_t server[MAX_PATH + 1] = {};
    DWORD size = sizeof server - sizeof(wchar_t), type = 0;
    ours = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(server), &size) == ERROR_SUCCESS &&
           type == REG_SZ && SameText(server, path);
    RegCloseKey(key);
  }
  if (!ours) return false;
  bool ok = DeleteKeyTree(HKEY_CLASSES_ROOT, GrabberFilterKey());
  ok = DeleteKeyTree(HKEY_CLASSES_ROOT, GrabberKey()) && ok;
  return DeleteFileW(path.c_str()) && ok;
}

// DllUnregisterServer of a component the install placed; the file goes when
// nothing of its registration is left behind (unregistered, or it has no
// such entry point and so registered nothing).
bool UnregisterAndDelete(const std::wstring& path) {
  const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (reinterpret_cast<uintptr_t>(module) <= 31) return false;
  using Entry = HRESULT(__stdcall*)();
  const auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
  const bool unregistered = !entry || entry() >= 0;
  FreeLibrary(module);
  return unregistered && DeleteFileW(path.c_str());
}

// The setting back (or deleted); true when it was changed.
bool RestoreSpoolFolder(const SetupState& s) {
  std::wstring current;
  const bool present = ReadSpoolFolderSetting(current) == SpoolSetting::Present;
  wchar_t system[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  const std::u16string systemDefault =
      n > 0 && n < MAX_PATH ? vx::FromWide(system) + u"\\spool\\PRINTERS" : std::u16string();
  const SpoolRestore plan = PlanSpoolRestore(s.InstallDir, present, vx::FromWide(current), s.SpoolFolderKnown,
                                             s.PreviousSpoolFolder, systemDefault);
  switch (plan.action) {
    case SpoolRestore::Leave:
      return false;
    case SpoolRestore::Set:
      return SetDefaultSpoolFolder(vx::ToWide(plan.value));
    case SpoolRestore::Delete:
      return DeleteSpoolFolderSetting();
  }
  return false;
}

}  // namespace

void PrepareComponentRecord(SetupState& s, bool driven) {
  s.ComponentKind = ComponentKindFor(s.header.ServerPackage, s.PackageKind);
  s.ComponentKindRecorded = true;

  s.PlacedComponents.clear();
  std::vector<std::u16string> used;  // by this install, placed or found in place
  const std::wstring system = SystemFolder(s), dir = vx::ToWide(s.InstallDir);
  if (!system.empty())
    for (const auto& name : SystemComponentsFor(driven, s.header.ServerPackage, s.ComponentKind)) {
      const std::wstring target = system + L"\\" + vx::ToWide(name);
      used.push_back(vx::FromWide(target));
      // Placed by this install: none there yet, the carried copy at hand, and
      // for the grabber no registration of another's to write over.
      if (Exists(target) || !Exists(dir + vx::ToWide(name))) continue;
      if (name == u"qedit.dll" && (ClassKeyExists(GrabberKey()) || ClassKeyExists(GrabberFilterKey()))) continue;
      s.PlacedComponents.push_back(vx::FromWide(target));
    }
  used.push_back(PrinterCountPath());
  CountSharedComponents(s, used);

  s.SpoolFolderKnown = false;
  s.PreviousSpoolFolder.clear();
  if (s.ComponentKind != 3) return;
  std::wstring folder;
  switch (ReadSpoolFolderSetting(folder)) {
    case SpoolSetting::Present:
      // One this folder's earlier install set is not what the machine had.
      s.SpoolFolderKnown = !IsSameOrInside(vx::FromWide(folder), s.InstallDir);
      if (s.SpoolFolderKnown) s.PreviousSpoolFolder = vx::FromWide(folder);
      break;
    case SpoolSetting::Absent:
      s.SpoolFolderKnown = true;
      break;
    case SpoolSetting::Unreadable:
      break;
  }
  // The spool folder is the install's when it makes it.
  if (s.CreatedFoldersKnown && !Exists(vx::ToWide(PrivateSpoolFolder(s.InstallDir))))
    s.CreatedFolders.push_back(u"PrintSpool");
}

void RemoveComponentsAndPrinter(SetupState& s) {
  if (!s.ComponentKindRecorded) return;
  std::vector<std::u16string> systemFolders = {vx::FromWide(SystemFolder(s))};
  wchar_t system[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n > 0 && n < MAX_PATH) systemFolders.push_back(vx::FromWide(system));
  bool removePrinter = false;
  const HRESULT com = CoInitialize(nullptr);
  const std::vector<std::u16string> unused = ReleaseSharedComponents(s);
  for (auto it = unused.rbegin(); it != unused.rend(); ++it) {
    const std::wstring path = vx::ToWide(*it);
    // The printer's count, known by its file name (the spooler may not name
    // its folder now).
    if (SameText(FileName(path), L"vprinter.dll")) {
      removePrinter = true;
      continue;
    }
    if (!IsPlacedComponentPath(*it, systemFolders) || !Exists(path)) continue;
    if (SameText(FileName(path), L"qedit.dll"))
      RemoveSampleGrabber(path);
    else
      UnregisterAndDelete(path);
  }
  if (SUCCEEDED(com)) CoUninitialize();

  // The printer goes through a running spooler; the spool setting changes
  // while it is down.
  if (removePrinter && EnsureSpoolerRunning()) RemovePrinter(kDocumentPrinter);
  if (s.ComponentKind == 3 && RestoreSpoolFolder(s)) RestartSpooler();
}

}  // namespace setup
