#pragma once
// The print-spooler clean-up before the registry records are written: the
// spooler is stopped, an earlier copy of the document printer removed, and
// the spooler started again (Win32).
#include <string>

namespace setup {

inline constexpr wchar_t kSpoolerService[] = L"Spooler";
inline constexpr wchar_t kDocumentPrinter[] = L"Quorin Document Loader";
inline constexpr wchar_t kDocumentDriver[] = L"Quorin Document Printer";
inline constexpr wchar_t kPrintProcessor[] = L"vpproc";

// Stops the service and waits (bounded) until it reports stopped; true then.
bool StopService(const wchar_t* name);

// Starts the service when it is stopped (or its state cannot be read), after
// a stop still pending, and waits (bounded) until it runs; true then.
bool StartServiceAndWait(const wchar_t* name);

// Deletes the printer, its driver and the print processor, then the driver
// and processor files. True when printer, driver and processor are gone
// afterwards: one that was never there, or a spooler that cannot answer,
// counts as removed.
bool RemovePrinter(const wchar_t* printer);

}  // namespace setup
