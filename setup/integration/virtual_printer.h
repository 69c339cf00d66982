#pragma once
// The product's document printer: print processor, driver on the universal
// printer driver files, and the printer queue; spooler preparation.
#include <string>

#include "setup/integration/spooler_cleanup.h"
#include "setup/startup/setup_state.h"

namespace setup {

// Starts "Spooler" when it is stopped or its state cannot be read and waits
// (bounded) until it runs; true when it runs.
bool EnsureSpoolerRunning();

// Lists the processor when missing (copying InstallDir\vpproc.dll without
// overwriting); true when it is listed or was added.
bool InstallPrintProcessor(const SetupState& s, const std::wstring& name);

// Deletes and re-adds the driver (level 3) on the driver files copied from
// InstallDir without overwriting.
bool InstallPrinterDriver(const SetupState& s, const std::wstring& name);

// Deletes every job queued on the printer.
bool CancelAllJobs(const std::wstring& printer);

// An existing printer only has its queue emptied; otherwise the spooler,
// processor and driver are prepared and the printer is added on "LPT1:".
bool InstallPrinter(const SetupState& s, const std::wstring& printer);

// The machine's default spool folder (empty when it cannot be read), and
// where it is kept.
std::wstring DefaultSpoolFolder();
bool SetDefaultSpoolFolder(const std::wstring& folder);

// The spool folder setting where SetDefaultSpoolFolder keeps it: Present
// with `folder`, Absent (the key holds none), or Unreadable (no key opens, or
// the value is not text or longer than 1023 characters).
enum class SpoolSetting { Present, Absent, Unreadable };
SpoolSetting ReadSpoolFolderSetting(std::wstring& folder);

// Deletes that setting; true when it is gone.
bool DeleteSpoolFolderSetting();

// Points the spooler at InstallDir\PrintSpool and restarts it.
bool SetPrivateSpoolFolder(const SetupState& s);

// Stops and starts "Spooler", waiting for each transition.
bool RestartSpooler();

// Calls qrInstallVPrinter of InstallDir\VirtualPrinter.dll; its one-byte
// result is the result.
bool RunPrinterInstaller(const SetupState& s);

}  // namespace setup
