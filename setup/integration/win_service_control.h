#pragma once
// The service manager behind ServiceControl (Win32).
#include <windows.h>

#include "setup/integration/service_waits.h"

namespace setup {

class WinServiceControl final : public ServiceControl {
 public:
  // Opens `name` in the active database; Open() is false when it did not.
  WinServiceControl(const wchar_t* name, DWORD managerAccess, DWORD serviceAccess);
  ~WinServiceControl() override;
  WinServiceControl(const WinServiceControl&) = delete;
  WinServiceControl& operator=(const WinServiceControl&) = delete;

  bool Open() const { return m_service != nullptr; }
  bool Query(ServiceStatus& status) override;
  bool SendStop(ServiceStatus& status) override;
  bool Start() override;
  void Sleep(uint32_t ms) override { ::Sleep(ms); }
  uint32_t Now() override { return GetTickCount(); }

 private:
  SC_HANDLE m_manager = nullptr, m_service = nullptr;
};

}  // namespace setup
