// Service-manager stand-in. Under systemd (NOTIFY_SOCKET set) status reports go to the notify
// socket: running as READY=1, stopped as STOPPING=1. SIGTERM, SIGINT and SIGHUP are the stop control,
// taken by the dispatcher thread with sigwait.
// Started by hand the program runs as an ordinary one and its reports go nowhere.
#pragma once
#include <cstddef>
#include <cstdint>

enum : uint32_t {
  SERVICE_WIN32_OWN_PROCESS = 0x10,
  SERVICE_STOPPED = 1,
  SERVICE_START_PENDING = 2,
  SERVICE_RUNNING = 4,
  SERVICE_ACCEPT_STOP = 1,
  SERVICE_CONTROL_STOP = 1,
  SERVICE_CONTROL_INTERROGATE = 4,
};

struct ServiceStatus {
  uint32_t service_type;
  uint32_t current_state;
  uint32_t controls_accepted;
  uint32_t win32_exit_code;
  uint32_t service_specific_exit_code;
  uint32_t checkpoint;
  uint32_t wait_hint;
};

typedef void (*ServiceMainProc)(uint32_t argc, char16_t** argv);
typedef void (*ServiceCtrlHandler)(uint32_t control);
typedef int ServiceStatusHandle;  // 0 none

// Blocks the stop signals (SIGTERM, SIGINT, SIGHUP) in the calling thread, and so in every thread it starts
// afterwards: a stop that comes at any moment waits for the dispatcher. Call it before any thread.
void svc_block_stop_signals();
// Runs the dispatcher on the calling thread: calls service_main, then takes every stop signal
// (blocked everywhere, see above) and hands it to the registered control handler as
// SERVICE_CONTROL_STOP. Returns false when it cannot start.
bool svc_start_ctrl_dispatcher(const char16_t* service_name, ServiceMainProc service_main);
ServiceStatusHandle svc_register_ctrl_handler(const char16_t* service_name, ServiceCtrlHandler handler);
bool svc_set_status(ServiceStatusHandle handle, const ServiceStatus* status);

// The service's current problems, which the status text (systemd's STATUS=) lists, joined by
// "; ", or "running" when there is none. Each key (a short name such as "IPv4-Trap" or
// "settings") holds one text; a null text clears it. Once RUNNING is reported, each change goes
// out at once. Any thread may call these.
void svc_status_problem(const char* key, const char* text);
// The status text as it stands now, cut to room.
void svc_status_text(char* out, size_t room);
// Writes one line about a problem of the service to standard error ("Brevanta: " and the text).
void svc_report_line(const char* text);
