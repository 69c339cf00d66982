#include "setup/integration/win_service_control.h"

namespace setup {
namespace {

ServiceStatus From(const SERVICE_STATUS& s) { return {s.dwCurrentState, s.dwCheckPoint, s.dwWaitHint}; }

}  // namespace

WinServiceControl::WinServiceControl(const wchar_t* name, DWORD managerAccess, DWORD serviceAccess) {
  m_manager = OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, managerAccess);
  if (m_manager) m_service = OpenServiceW(m_manager, name, serviceAccess);
}

WinServiceControl::~WinServiceControl() {
  if (m_service) CloseServiceHandle(m_service);
  if (m_manager) CloseServiceHandle(m_manager);
}

bool WinServiceControl::Query(ServiceStatus& status) {
  SERVICE_STATUS s = {};
  if (!m_service || !QueryServiceStatus(m_service, &s)) return false;
  status = From(s);
  return true;
}

bool WinServiceControl::SendStop(ServiceStatus& status) {
  SERVICE_STATUS s = {};
  if (!m_service || !ControlService(m_service, SERVICE_CONTROL_STOP, &s)) return false;
  status = From(s);
  return true;
}

bool WinServiceControl::Start() {
  return m_service && (StartServiceW(m_service, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING);
}

}  // namespace setup
