#pragma once
// Stopping and starting a Windows service and waiting for it to settle,
// over a small interface so that the state sequences can be tested without
// a service manager.
#include <cstdint>

namespace setup {

// The service manager's states (SERVICE_STOPPED ... SERVICE_PAUSED).
enum ServiceState : uint32_t {
  kServiceStopped = 1, kServiceStartPending = 2, kServiceStopPending = 3, kServiceRunning = 4,
};

struct ServiceStatus {
  uint32_t state = 0, checkPoint = 0, waitHint = 0;
};

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  virtual bool Query(ServiceStatus& status) = 0;     // false: the state cannot be read
  virtual bool SendStop(ServiceStatus& status) = 0;  // the status the stop returned
  virtual bool Start() = 0;                          // true also when it already runs
  virtual void Sleep(uint32_t ms) = 0;
  virtual uint32_t Now() = 0;  // milliseconds, wrapping
};

struct ServiceWaitLimits {
  uint32_t minPollMs = 100, maxPollMs = 1000;
  uint32_t giveUpMs = 60000;  // a service that never settles
};

// Polls while `status` reports `pending`, sleeping a tenth of the wait hint
// (within the limits); ends when the check point has not advanced for longer
// than the wait hint (at least the longest poll), or after giveUpMs.
void WaitWhilePending(ServiceControl& service, ServiceStatus& status, uint32_t pending,
                      const ServiceWaitLimits& limits);

// Stops the service unless it is stopped and waits for it; true when it
// reports stopped.
bool StopAndWait(ServiceControl& service, const ServiceWaitLimits& limits);

// Starts the service when it is stopped or its state cannot be read (waiting
// first for a stop still pending) and waits for it; true when it reports
// running.
bool StartAndWait(ServiceControl& service, const ServiceWaitLimits& limits);

}  // namespace setup
