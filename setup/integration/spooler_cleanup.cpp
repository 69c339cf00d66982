#include "setup/integration/spooler_cleanup.h"

#include <windows.h>
#include <winspool.h>

#include <vector>

#include "setup/integration/win_service_control.h"

namespace setup {
namespace {

// Names listed by an Enum* call at level 1 (the name is the first field).
template <typename Info, typename Enumerate>
bool Listed(const wchar_t* name, Enumerate enumerate) {
  DWORD needed = 0, count = 0;
  enumerate(nullptr, 0, &needed, &count);
  if (needed == 0) return false;
  std::vector<BYTE> buffer(needed);
  if (!enumerate(buffer.data(), needed, &needed, &count)) return false;
  const Info* info = reinterpret_cast<const Info*>(buffer.data());
  for (DWORD i = 0; i < count; ++i)
    if (info[i].pName && lstrcmpiW(info[i].pName, name) == 0) return true;
  return false;
}

bool DriverListed(const wchar_t* name) {
  return Listed<DRIVER_INFO_1W>(name, [](BYTE* data, DWORD size, DWORD* needed, DWORD* count) {
    return EnumPrinterDriversW(nullptr, nullptr, 1, data, size, needed, count) != FALSE;
  });
}

bool ProcessorListed(const wchar_t* name) {
  return Listed<PRINTPROCESSOR_INFO_1W>(name, [](BYTE* data, DWORD size, DWORD* needed, DWORD* count) {
    return EnumPrintProcessorsW(nullptr, nullptr, 1, data, size, needed, count) != FALSE;
  });
}

// A missing file is fine; one that stays is not.
bool DeleteIfThere(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path.c_str()) != FALSE;
}

bool DirectoryOf(bool driver, std::wstring& directory) {
  wchar_t path[MAX_PATH] = {};
  DWORD needed = 0;
  const BOOL ok = driver ? GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(path),
                                                      sizeof path, &needed)
                         : GetPrintProcessorDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(path),
                                                       sizeof path, &needed);
  if (!ok || path[0] == 0) return false;
  directory = path;
  return true;
}

}  // namespace

bool StopService(const wchar_t* name) {
  WinServiceControl service(name, SC_MANAGER_ALL_ACCESS, SERVICE_STOP | SERVICE_QUERY_STATUS);
  return service.Open() && StopAndWait(service, ServiceWaitLimits{});
}

bool StartServiceAndWait(const wchar_t* name) {
  WinServiceControl service(name, SC_MANAGER_ALL_ACCESS, SERVICE_START | SERVICE_QUERY_STATUS);
  return service.Open() && StartAndWait(service, ServiceWaitLimits{});
}

bool RemovePrinter(const wchar_t* printer) {
  bool printerGone = true;
  HANDLE handle = nullptr;
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  if (OpenPrinterW(const_cast<wchar_t*>(printer), &handle, &defaults)) {
    printerGone = DeletePrinter(handle) != FALSE;
    ClosePrinter(handle);
  } else {
    // A spooler that cannot answer (stopped) has no printer to remove.
    const DWORD error = GetLastError();
    printerGone = error == ERROR_INVALID_PRINTER_NAME || error == RPC_S_SERVER_UNAVAILABLE;
  }

  // Deleted, or not there to delete. (Wine's print-processor deletion reports
  // success and keeps the entry, so a listing afterwards proves nothing.)
  const bool driverGone = DeletePrinterDriverW(nullptr, nullptr, const_cast<wchar_t*>(kDocumentDriver)) ||
                          !DriverListed(kDocumentDriver);
  const bool processorGone = DeletePrintProcessorW(nullptr, nullptr, const_cast<wchar_t*>(kPrintProcessor)) ||
                             !ProcessorListed(kPrintProcessor);

  bool filesGone = true;
  std::wstring directory;
  if (DirectoryOf(true, directory)) {
    filesGone = DeleteIfThere(directory + L"\\vprinter.dll") && filesGone;
    filesGone = DeleteIfThere(directory + L"\\vprinter.GPD") && filesGone;
  }
  if (DirectoryOf(false, directory)) filesGone = DeleteIfThere(directory + L"\\vpproc.dll") && filesGone;
  return printerGone && driverGone && processorGone && filesGone;
}

}  // namespace setup
