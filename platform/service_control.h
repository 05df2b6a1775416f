// Service-control stand-in (the service manager as programs that install, start, stop and remove a
// service see it). With VELLMAR_SERVICE_STATE naming a folder, our own small manager keeps each
// service there: <folder>/<name>/command (the command line) and <folder>/<name>/pid (the running
// process); a stop request is SIGTERM, which the service glue takes as its stop control. Otherwise,
// when systemd runs, the calls drive the unit <name>.service through systemctl; with neither, the
// small manager uses /var/lib/vellmar/services. Under VELLMAR_TEST only the named folder is used,
// so a test never reaches an installed service. VELLMAR_SYSTEMCTL names a systemctl stand-in and
// chooses the systemd calls (tests of those calls).
#pragma once
#include <cstdint>

#include "platform/service_manager.h"

enum : uint32_t {
  SERVICE_STOP_PENDING = 3,
};

typedef struct ServiceControl* ScHandle;  // a manager or a service; null is none

// Opens the service manager; null when there is none to use.
ScHandle sc_open_manager();
// Opens an installed service by name; null when it is not installed.
ScHandle sc_open_service(ScHandle manager, const char16_t* name);
// Installs a service that runs the command line (through /bin/sh) when started; small manager
// only. Null when it exists already or cannot be written.
ScHandle sc_create_service(ScHandle manager, const char16_t* name, const char* command_line);
// Fills the type and the current state (SERVICE_STOPPED, SERVICE_STOP_PENDING, SERVICE_RUNNING...).
bool sc_query_status(ScHandle service, ServiceStatus* out);
// Sends a control; SERVICE_CONTROL_STOP asks a running service to stop and returns at once. Fills
// the status as it stands afterwards. False when the service does not run.
bool sc_control(ScHandle service, uint32_t control, ServiceStatus* out);
// Starts the service (no arguments); false when it runs already or cannot be started.
bool sc_start(ScHandle service);
// Removes the service; one that still runs goes on until it stops.
bool sc_delete(ScHandle service);
// Why the last failed call of this process failed, as the service manager told it; "" when it gave
// no reason.
const char* sc_last_failure();
// Why a service that was started is stopped again: systemd's result and the service's status text,
// or the last line the service wrote under the small manager. False when there is nothing to tell.
bool sc_stop_reason(ScHandle service, char* out, size_t room);
// Frees a handle; null is ignored.
void sc_close(ScHandle handle);
