#include "setup/integration/service_waits.h"

#include <algorithm>

namespace setup {

void WaitWhilePending(ServiceControl& service, ServiceStatus& status, uint32_t pending,
                      const ServiceWaitLimits& limits) {
  const uint32_t began = service.Now();
  uint32_t progressAt = began, checkPoint = status.checkPoint;
  while (status.state == pending) {
    service.Sleep(std::clamp<uint32_t>(status.waitHint / 10, limits.minPollMs, limits.maxPollMs));
    if (!service.Query(status)) return;
    const uint32_t now = service.Now();
    if (status.checkPoint != checkPoint) {
      checkPoint = status.checkPoint;
      progressAt = now;
    } else if (now - progressAt > std::max(status.waitHint, limits.maxPollMs)) {
      return;
    }
    if (now - began > limits.giveUpMs) return;
  }
}

bool StopAndWait(ServiceControl& service, const ServiceWaitLimits& limits) {
  ServiceStatus status;
  if (!service.Query(status)) return false;
  if (status.state == kServiceStopped) return true;
  if (status.state != kServiceStopPending && !service.SendStop(status) && !service.Query(status)) return false;
  WaitWhilePending(service, status, kServiceStopPending, limits);
  return service.Query(status) && status.state == kServiceStopped;
}

bool StartAndWait(ServiceControl& service, const ServiceWaitLimits& limits) {
  ServiceStatus status;
  const bool known = service.Query(status);
  if (known && status.state == kServiceStopPending) {
    WaitWhilePending(service, status, kServiceStopPending, limits);
    if (!service.Query(status)) return false;
  }
  if (!known || status.state == kServiceStopped) {
    if (!service.Start() || !service.Query(status)) return false;
  }
  WaitWhilePending(service, status, kServiceStartPending, limits);
  return status.state == kServiceRunning;
}

}  // namespace setup
