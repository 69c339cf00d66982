#include "setup/integration/virtual_printer.h"

#include <windows.h>
#include <winspool.h>

#include <vector>

#include "base/utf16.h"
#include "setup/integration/win_service_control.h"

namespace setup {
namespace {

constexpr wchar_t kNtPrintersKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers";
// The control set in use first: ControlSet001 is only usually the current one.
constexpr wchar_t kCurrentPrintersKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
constexpr wchar_t kSystemPrintersKey[] = L"SYSTEM\\ControlSet001\\Control\\Print\\Printers";
constexpr wchar_t kSpoolValue[] = L"DefaultSpoolDirectory";

std::wstring Dir(const SetupState& s) { return vx::ToWide(s.InstallDir); }

std::wstring DriverDirectory() {
  wchar_t path[MAX_PATH] = {};
  DWORD needed = 0;
  if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(path), sizeof path, &needed))
    return {};
  return path;
}

std::wstring ProcessorDirectory() {
  wchar_t path[MAX_PATH] = {};
  DWORD needed = 0;
  if (!GetPrintProcessorDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(path), sizeof path, &needed))
    return {};
  return path;
}

// Copies without overwriting; an existing file is kept (and counts as done).
void CopyKeeping(const std::wstring& from, const std::wstring& to) { CopyFileW(from.c_str(), to.c_str(), TRUE); }

template <class Info, class Enum>
bool Listed(const std::wstring& name, Enum enumerate) {
  DWORD needed = 0, count = 0;
  enumerate(nullptr, 0, &needed, &count);
  if (needed == 0) return false;
  std::vector<BYTE> buffer(needed);
  if (!enumerate(buffer.data(), needed, &needed, &count)) return false;
  const auto* items = reinterpret_cast<const Info*>(buffer.data());
  for (DWORD i = 0; i < count; ++i)
    if (items[i].pName && name == items[i].pName) return true;
  return false;
}

}  // namespace

bool EnsureSpoolerRunning() {
  WinServiceControl spooler(kSpoolerService, SC_MANAGER_CONNECT, SERVICE_QUERY_STATUS | SERVICE_START);
  return spooler.Open() && StartAndWait(spooler, ServiceWaitLimits{});
}

bool InstallPrintProcessor(const SetupState& s, const std::wstring& name) {
  const bool listed = Listed<PRINTPROCESSOR_INFO_1W>(name, [](BYTE* b, DWORD n, DWORD* needed, DWORD* count) {
    return EnumPrintProcessorsW(nullptr, nullptr, 1, b, n, needed, count) != 0;
  });
  if (listed) return true;
  const std::wstring folder = ProcessorDirectory();
  if (!folder.empty()) CopyKeeping(Dir(s) + L"vpproc.dll", folder + L"\\vpproc.dll");
  return AddPrintProcessorW(nullptr, nullptr, const_cast<LPWSTR>(L"vpproc.dll"),
                            const_cast<LPWSTR>(name.c_str())) != 0;
}

bool InstallPrinterDriver(const SetupState& s, const std::wstring& name) {
  DeletePrinterDriverW(nullptr, nullptr, const_cast<LPWSTR>(name.c_str()));
  const bool listed = Listed<DRIVER_INFO_1W>(name, [](BYTE* b, DWORD n, DWORD* needed, DWORD* count) {
    return EnumPrinterDriversW(nullptr, nullptr, 1, b, n, needed, count) != 0;
  });
  if (listed) return true;
  const std::wstring folder = DriverDirectory();
  if (!folder.empty())
    for (const wchar_t* file : {L"STDNAMES.GPD", L"UNIDRV.DLL", L"UNIDRV.HLP", L"UNIDRVUI.DLL", L"UNIRES.DLL",
                                L"vprinter.dll", L"vprinter.GPD"})
      CopyKeeping(Dir(s) + file, folder + L"\\" + file);
  wchar_t dependent[] = L"STDNAMES.GPD\0";  // a one-entry list
  DRIVER_INFO_3W info = {};
  info.cVersion = 3;
  info.pName = const_cast<LPWSTR>(name.c_str());
  info.pDriverPath = const_cast<LPWSTR>(L"UNIDRV.dll");
  info.pDataFile = const_cast<LPWSTR>(L"vprinter.gpd");
  info.pConfigFile = const_cast<LPWSTR>(L"UNIDRVUI.DLL");
  info.pHelpFile = const_cast<LPWSTR>(L"UNIDRV.HLP");
  info.pDependentFiles = dependent;
  info.pDefaultDataType = const_cast<LPWSTR>(L"RAW");
  return AddPrinterDriverW(nullptr, 3, reinterpret_cast<BYTE*>(&info)) != 0;
}

bool CancelAllJobs(const std::wstring& printer) {
  HANDLE handle = nullptr;
  if (!OpenPrinterW(const_cast<LPWSTR>(printer.c_str()), &handle, nullptr)) return false;
  bool ok = false;
  DWORD needed = 0;
  GetPrinterW(handle, 2, nullptr, 0, &needed);
  if (needed) {
    std::vector<BYTE> info(needed);
    if (GetPrinterW(handle, 2, info.data(), needed, &needed)) {
      const DWORD jobs = reinterpret_cast<const PRINTER_INFO_2W*>(info.data())->cJobs;
      ok = true;
      if (jobs) {
        DWORD count = 0;
        needed = 0;
        EnumJobsW(handle, 0, jobs, 1, nullptr, 0, &needed, &count);
        std::vector<BYTE> list(needed ? needed : 1);
        if (needed && EnumJobsW(handle, 0, jobs, 1, list.data(), needed, &needed, &count)) {
          const auto* items = reinterpret_cast<const JOB_INFO_1W*>(list.data());
          for (DWORD i = 0; i < count; ++i) ok = SetJobW(handle, items[i].JobId, 0, nullptr, JOB_CONTROL_DELETE) && ok;
        }
      }
    }
  }
  ClosePrinter(handle);
  return ok;
}

bool InstallPrinter(const SetupState& s, const std::wstring& printer) {
  HANDLE handle = nullptr;
  if (OpenPrinterW(const_cast<LPWSTR>(printer.c_str()), &handle, nullptr)) {
    ClosePrinter(handle);
    return CancelAllJobs(printer);
  }
  const DWORD error = GetLastError();
  if (error != ERROR_INVALID_PRINTER_NAME && error != RPC_S_SERVER_UNAVAILABLE) return false;
  if (!EnsureSpoolerRunning() || !InstallPrintProcessor(s, kPrintProcessor) ||
      !InstallPrinterDriver(s, kDocumentDriver))
    return false;
  PRINTER_INFO_2W info = {};
  info.pPrinterName = const_cast<LPWSTR>(printer.c_str());
  info.pPortName = const_cast<LPWSTR>(L"LPT1:");
  info.pDriverName = const_cast<LPWSTR>(kDocumentDriver);
  info.pPrintProcessor = const_cast<LPWSTR>(kPrintProcessor);
  info.pDatatype = const_cast<LPWSTR>(L"NT EMF 1.008");
  info.Attributes = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS;
  handle = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
  if (!handle) return false;
  ClosePrinter(handle);
  return true;
}

std::wstring DefaultSpoolFolder() {
  for (const wchar_t* path : {kNtPrintersKey, kCurrentPrintersKey, kSystemPrintersKey}) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof value - sizeof(wchar_t), type = 0;
    const LONG r = RegQueryValueExW(key, kSpoolValue, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (r == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) return value;
  }
  return {};
}

bool SetDefaultSpoolFolder(const std::wstring& folder) {
  for (const wchar_t* path : {kNtPrintersKey, kCurrentPrintersKey, kSystemPrintersKey}) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) continue;
    const LONG r = RegSetValueExW(key, kSpoolValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                                  DWORD((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (r == ERROR_SUCCESS) return true;
  }
  return false;
}

namespace {

// The first printers key that opens for writing: the one SetDefaultSpoolFolder sets.
bool OpenSpoolSettingKey(HKEY& key) {
  for (const wchar_t* path : {kNtPrintersKey, kCurrentPrintersKey, kSystemPrintersKey})
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) return true;
  return false;
}

}  // namespace

SpoolSetting ReadSpoolFolderSetting(std::wstring& folder) {
  HKEY key;
  if (!OpenSpoolSettingKey(key)) return SpoolSetting::Unreadable;
  wchar_t value[1024] = {};
  DWORD size = sizeof value - sizeof(wchar_t), type = 0;
  const LONG r = RegQueryValueExW(key, kSpoolValue, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (r == ERROR_FILE_NOT_FOUND) return SpoolSetting::Absent;
  if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return SpoolSetting::Unreadable;
  folder = value;
  return SpoolSetting::Present;
}

bool DeleteSpoolFolderSetting() {
  HKEY key;
  if (!OpenSpoolSettingKey(key)) return false;
  const LONG r = RegDeleteValueW(key, kSpoolValue);
  RegCloseKey(key);
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

bool RestartSpooler() {
  WinServiceControl spooler(kSpoolerService, SC_MANAGER_ALL_ACCESS, SERVICE_ALL_ACCESS);
  // Polls of a tenth of the wait hint, 1 to 10 s.
  const ServiceWaitLimits limits{1000, 10000, 120000};
  return spooler.Open() && StopAndWait(spooler, limits) && StartAndWait(spooler, limits);
}

bool SetPrivateSpoolFolder(const SetupState& s) {
  const std::wstring folder = Dir(s) + L"PrintSpool";
  CreateDirectoryW(folder.c_str(), nullptr);
  if (!SetDefaultSpoolFolder(folder)) return false;
  return RestartSpooler();
}

bool RunPrinterInstaller(const SetupState& s) {
  const std::wstring path = Dir(s) + L"VirtualPrinter.dll";
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  const HMODULE module = LoadLibraryW(path.c_str());
  if (!module) return false;
  using Entry = unsigned char(__cdecl*)(const char*, const char*, const char*);
  const auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "qrInstallVPrinter")));
  bool ok = false;
  if (entry) {
    const std::string folder = vx::Utf16ToAnsi(s.InstallDir) + "VedozEzuveru";
    ok = entry("VedozEzuveruV4", "VedozEzuveru Driver", folder.c_str()) != 0;
  }
  FreeLibrary(module);
  return ok;
}

}  // namespace setup
